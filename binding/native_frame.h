#pragma once
// The frame every exported native method (and each Java callback entry) runs in: a trace scope on the
// main log named after the exported function, begun with the method's result variable and argument
// text, and, for most methods, the library lock for the whole call. The lock is taken after the begin
// line and released before the done line.
//
// Inside a Java callback the frame never lets the thread wait for itself:
//   - a method that changes state (WithLibraryLockForChange) is refused inside "InputLevel": it would
//     wait for the streaming thread that is calling it;
//   - a method that must not run inside any callback (OutsideCallbacks) is refused in both;
//   - otherwise the lock is waited for only while its holder is a query; a holder that changes state
//     may be waiting for this very thread, so the method is refused at once. The wait is bounded.
// A refused method returns RefusedInCallback (its scope writes "refused inside a callback…" and the
// code) without doing anything. Threads outside the callbacks wait for the lock as before.
#include "binding/library_objects.h"
#include "support/trace_log.h"

// HRESULT_FROM_WIN32(ERROR_POSSIBLE_DEADLOCK): the call was refused because waiting for it would
// deadlock the callback thread that made it.
constexpr HRESULT RefusedInCallback = static_cast<HRESULT>(0x8007046BL);

// How long a callback thread waits for the library lock while a query holds it.
constexpr DWORD CallbackLockTimeout = 2000; // milliseconds

class CNativeFrame {
public:
    enum ELock {
        WithoutLock,
        WithLibraryLock,           // a query: the holder never waits for a callback thread
        WithLibraryLockForChange,  // changes a graph or the library: the holder may wait for callback threads
        OutsideCallbacks,          // as WithLibraryLockForChange, and refused inside any callback
    };

    template <class Result, class... Args>
    CNativeFrame(const char* name, Result* result, ELock lock, const wchar_t* format = nullptr, Args... args)
        : m_scope(s_MainLog, name)
    {
        m_scope.Begin(result, format, args...);
        if (!Acquire(lock)) {
            s_MainLog.Print(L"refused inside a callback…");
            *result = static_cast<Result>(RefusedInCallback);
        }
    }

    ~CNativeFrame();

    // The method was refused on a callback thread; it returns at once.
    bool Refused() const { return m_refused; }

    CNativeFrame(const CNativeFrame&) = delete;
    CNativeFrame& operator=(const CNativeFrame&) = delete;

private:
    // Takes the lock as the mode and the calling thread allow; false when the call is refused.
    bool Acquire(ELock lock);

    CTraceScope m_scope;
    bool m_locked = false;
    bool m_forChange = false;
    bool m_refused = false;
};
