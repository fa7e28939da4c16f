#include "support/thread_ex.h"

namespace Synchronization {

CThreadEx::CThreadEx() : m_stopTimeout(DefaultStopTimeout) {}

CThreadEx::~CThreadEx()
{
    Stop();
}

HRESULT CThreadEx::Start()
{
    CAutoLock lock(&m_lock);
    if (m_stopEvent.IsValid())
        return E_UNEXPECTED;
    HRESULT hr = m_stopEvent.Create(true);
    if (FAILED(hr))
        return hr;
    hr = m_thread.Start(&CThreadEx::ThreadRoutine, this);
    if (SUCCEEDED(hr))
        m_stopTimeout = DefaultStopTimeout;
    return hr;
}

HRESULT CThreadEx::Stop()
{
    CAutoLock lock(&m_lock);
    HRESULT result = S_OK;
    const auto keep = [&result](HRESULT hr) {
        if (result == S_OK)
            result = hr;
    };

    if (m_thread.IsValid()) {
        bool ended = false;
        HRESULT hr = m_thread.Test();
        if (hr == S_OK) {
            ended = true;
        } else if (hr == S_FALSE) {
            hr = m_stopEvent.Set();
            if (SUCCEEDED(hr)) {
                hr = m_thread.Wait(m_stopTimeout);
                ended = hr == S_OK;
            }
            keep(hr); // S_FALSE when the thread did not end in time
        } else {
            keep(hr);
        }
        if (!ended) {
            const HRESULT terminated = m_thread.Terminate();
            keep(terminated);
            // Termination completes asynchronously: give the thread the stop timeout to be gone before
            // its handle is closed, so that Close does not find it running and terminate it again.
            if (SUCCEEDED(terminated))
                m_thread.Wait(m_stopTimeout);
        }
        keep(m_thread.Close());
    }
    keep(m_stopEvent.Close()); // S_FALSE when there was nothing running
    return result;
}

HRESULT CThreadEx::RequestStop()
{
    CAutoLock lock(&m_lock);
    return m_stopEvent.IsValid() ? m_stopEvent.Set() : S_FALSE;
}

HRESULT CThreadEx::OnStart()
{
    return S_OK;
}

HRESULT CThreadEx::Run()
{
    // Waits without limit for the stop event; a failed wait ends the thread with its error.
    return m_stopEvent.Wait(INFINITE);
}

HRESULT CThreadEx::OnStop()
{
    return S_OK;
}

DWORD WINAPI CThreadEx::ThreadRoutine(void* parameter)
{
    CThreadEx* const self = static_cast<CThreadEx*>(parameter);
    if (!self)
        return static_cast<DWORD>(E_POINTER);
    HRESULT hr = self->OnStart();
    if (FAILED(hr))
        return static_cast<DWORD>(hr);
    hr = self->Run();
    const HRESULT stopped = self->OnStop();
    if (hr == S_OK)
        hr = stopped;
    return static_cast<DWORD>(hr);
}

} // namespace Synchronization
