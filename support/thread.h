#pragma once
// A thread object. Closing a thread that this object started and that is still running terminates it.
#include <windows.h>

#include "support/sync_handle.h"

namespace Synchronization {

class CThread : public CHandle {
public:
    // The exit code of a terminated thread.
    static constexpr DWORD TerminatedExitCode = 16388; // 0x4004
    static constexpr DWORD NoThreadId = static_cast<DWORD>(-1);

    CThread() = default;
    ~CThread() override;

    // Creates a thread that runs routine(parameter) at once. E_UNEXPECTED while a handle is held.
    HRESULT Start(LPTHREAD_START_ROUTINE routine, void* parameter);
    // Terminates the thread with TerminatedExitCode (breaking into a debugger first if one is attached).
    HRESULT Terminate();
    // Terminates the thread if this object started it and it still runs, then closes the handle.
    // S_FALSE when no handle is held.
    HRESULT Close() override;

    DWORD Id() const { return m_id; }
    bool Started() const { return m_started; }

private:
    bool m_started = false;
    DWORD m_id = NoThreadId;
};

} // namespace Synchronization
