#pragma once
// The frame every exported native method (and each Java callback entry) runs in: a trace scope on the
// main log named after the exported function, begun with the method's result variable and argument
// text, and, for most methods, the library lock for the whole call. The lock is taken after the begin
// line and released before the done line.
#include "binding/library_objects.h"
#include "support/trace_log.h"

class CNativeFrame {
public:
    enum ELock { WithoutLock, WithLibraryLock };

    template <class Result, class... Args>
    CNativeFrame(const char* name, Result* result, ELock lock, const wchar_t* format = nullptr, Args... args)
        : m_scope(s_MainLog, name), m_lock(lock == WithLibraryLock ? &s_Lock : nullptr)
    {
        m_scope.Begin(result, format, args...);
        if (m_lock != nullptr)
            m_lock->Enter();
    }

    ~CNativeFrame()
    {
        if (m_lock != nullptr)
            m_lock->Leave();
        m_scope.End();
    }

    CNativeFrame(const CNativeFrame&) = delete;
    CNativeFrame& operator=(const CNativeFrame&) = delete;

private:
    CTraceScope m_scope;
    Synchronization::CCriticalSection* m_lock;
};
