#include "support/thread.h"

#include "support/system_error.h"

namespace Synchronization {

CThread::~CThread()
{
    if (IsValid())
        CThread::Close();
}

HRESULT CThread::Start(LPTHREAD_START_ROUTINE routine, void* parameter)
{
    if (IsValid())
        return E_UNEXPECTED;
    DWORD id = 0;
    const HANDLE thread = ::CreateThread(nullptr, 0, routine, parameter, 0, &id);
    if (!thread)
        return Win32::ResultFromLastError();
    m_handle = thread;
    m_started = true;
    m_id = id;
    return S_OK;
}

HRESULT CThread::Terminate()
{
    // A thread is terminated only as the last resort; a developer watching should see it happen.
    if (::IsDebuggerPresent())
        ::DebugBreak();
    if (!::TerminateThread(m_handle, TerminatedExitCode))
        return Win32::ResultFromLastError();
    m_id = NoThreadId;
    return S_OK;
}

HRESULT CThread::Close()
{
    if (!IsValid())
        return S_FALSE;
    if (m_started) {
        HRESULT hr = Test();
        if (hr == S_FALSE)
            hr = Terminate();
        if (FAILED(hr))
            return hr;
    }
    const HRESULT hr = Win32::CHandle<HANDLE, 0>::Close();
    if (hr == S_OK) {
        m_started = false;
        m_id = NoThreadId;
    }
    return hr;
}

} // namespace Synchronization
