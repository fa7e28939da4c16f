#pragma once
// A worker-thread frame with a start/stop protocol. Start creates a manual-reset stop event and a thread
// that calls OnStart, then Run, then OnStop. Stop signals the stop event, waits for the thread up to the
// stop timeout and terminates it if it did not end in time.
//
// Start and Stop may be called from any thread except the worker itself (Stop waits for it). A subclass
// whose Run uses its own members must call Stop in its own destructor: the base destructor stops the
// thread only after the subclass part is gone.
#include <windows.h>

#include "support/critical_section.h"
#include "support/event.h"
#include "support/thread.h"

namespace Synchronization {

class CThreadEx {
public:
    static constexpr DWORD DefaultStopTimeout = 1000; // milliseconds

    CThreadEx();
    virtual ~CThreadEx();
    CThreadEx(const CThreadEx&) = delete;
    CThreadEx& operator=(const CThreadEx&) = delete;

    // S_OK when the thread was started, E_UNEXPECTED while running (the stop event exists), otherwise
    // the mapped error of the failed step.
    HRESULT Start();
    // S_OK after a clean stop; S_FALSE when the thread had to be terminated or when nothing was running;
    // an error otherwise.
    HRESULT Stop();
    // Signals the stop event without waiting: the thread ends when it next looks at it. Usable on the
    // worker itself. S_FALSE when nothing is running.
    HRESULT RequestStop();

protected:
    // Run first on the new thread; a failure ends the thread with that result (Run and OnStop are skipped).
    virtual HRESULT OnStart();
    // The thread's body: the base waits for the stop event.
    virtual HRESULT Run();
    // Runs after Run on the thread.
    virtual HRESULT OnStop();

    HANDLE StopEvent() const { return m_stopEvent.Get(); }
    DWORD StopTimeout() const { return m_stopTimeout; }
    void SetStopTimeout(DWORD milliseconds) { m_stopTimeout = milliseconds; }
    HANDLE ThreadHandle() const { return m_thread.Get(); }
    DWORD ThreadId() const { return m_thread.Id(); }

private:
    static DWORD WINAPI ThreadRoutine(void* parameter);

    DWORD m_stopTimeout;
    CCriticalSection m_lock;
    CEvent m_stopEvent;
    CThread m_thread;
};

} // namespace Synchronization
