#pragma once
// The frame every exported native method (and each Java callback entry) runs in: a trace scope on the
// main log named after the exported function, begun with the method's result variable and argument
// text, and, for most methods, the library lock for the whole call. The lock is taken after the begin
// line and released before the done line.
//
// Every native may be called from inside a Java listener: the listener runs on the library's delivery
// thread, which neither the capture path nor the holder of the library lock ever waits for (stop and
// freeLibrary wait for a running listener call only after releasing the lock, and never on the
// delivery thread). So a listener waits for the lock as any Java thread does, for as long as its
// holder's bounded work takes.
#include "binding/library_objects.h"
#include "support/trace_log.h"

class CNativeFrame {
public:
    enum ELock {
        WithoutLock,
        WithLibraryLock,           // a query
        WithLibraryLockForChange,  // changes a graph or the library
    };

    template <class Result, class... Args>
    CNativeFrame(const char* name, Result* result, ELock lock, const wchar_t* format = nullptr, Args... args)
        : m_scope(s_MainLog, name)
    {
        if (ChangesState(name, lock))
            m_scope.MarkStateChange();
        m_scope.Begin(result, format, args...);
        if (lock != WithoutLock) {
            s_Lock.Enter();
            m_locked = true;
        }
    }

    ~CNativeFrame();

    // Releases the library lock before the frame ends (for a bounded wait that must not hold it).
    void Unlock();

    CNativeFrame(const CNativeFrame&) = delete;
    CNativeFrame& operator=(const CNativeFrame&) = delete;

private:
    // A call that changes the library or a stream, and the news that a stream ended: their lines are kept
    // in the log past its cap.
    static bool ChangesState(const char* name, ELock lock);

    CTraceScope m_scope;
    bool m_locked = false;
};
