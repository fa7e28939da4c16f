#include "graph/media_event_thread.h"

#include "support/system_error.h"

#include <initializer_list>

namespace DirectShow {

CMediaEventThread::CMediaEventThread() : m_callback(nullptr) {}

CMediaEventThread::~CMediaEventThread()
{
    // The worker uses this object's members: it must be gone before they are, whatever Detach says
    // (the base destructor would stop it only after them).
    Detach();
    Shutdown();
}

HRESULT CMediaEventThread::Initialise(Callback callback)
{
    if (callback == nullptr || ::IsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback))))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_lock);
    HRESULT hr = m_attachRequest.Create(false);
    if (SUCCEEDED(hr))
        hr = m_attachAcknowledge.Create(false);
    if (SUCCEEDED(hr))
        hr = m_detachRequest.Create(false);
    if (SUCCEEDED(hr))
        hr = m_detachAcknowledge.Create(false);
    if (SUCCEEDED(hr)) {
        m_callback = callback;
        hr = Start();
    }
    return hr;
}

HRESULT CMediaEventThread::Request(Synchronization::CEvent& request, Synchronization::CEvent& acknowledge,
                                   bool* signalled)
{
    *signalled = false;
    HRESULT hr = acknowledge.Reset();
    if (SUCCEEDED(hr))
        hr = request.Set();
    if (FAILED(hr))
        return hr;
    *signalled = true;
    hr = acknowledge.Wait(AcknowledgeTimeout);
    return hr == S_FALSE ? VFW_E_TIMEOUT : hr;
}

HRESULT CMediaEventThread::Attach(IUnknown* graph)
{
    if (graph == nullptr)
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_lock);
    if (m_mediaEvent.IsValid())
        return E_UNEXPECTED;
    HRESULT hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&m_mediaEvent));
    if (FAILED(hr))
        return hr;
    bool signalled = false;
    hr = Request(m_attachRequest, m_attachAcknowledge, &signalled);
    // A request that could not be signalled (not initialised, or shut down) reaches no worker, so the
    // interface is not kept: keeping it would refuse every later Attach. Once signalled, a worker may
    // still take it after a time-out, and it stays.
    if (!signalled)
        m_mediaEvent.Release();
    return hr;
}

HRESULT CMediaEventThread::Detach()
{
    Synchronization::CAutoLock lock(&m_lock);
    if (m_mediaEvent.IsNull())
        return S_FALSE;
    bool signalled = false;
    const HRESULT hr = Request(m_detachRequest, m_detachAcknowledge, &signalled);
    if (hr != S_OK)
        return hr;
    m_mediaEvent.Release();
    return S_OK;
}

HRESULT CMediaEventThread::Shutdown()
{
    Synchronization::CAutoLock lock(&m_lock);
    const HRESULT stopped = Stop();
    // S_OK or S_FALSE: the worker ended, was terminated or never ran. Nobody can take the interface
    // any more.
    if (SUCCEEDED(stopped))
        m_mediaEvent.Release();
    const HRESULT closed = CloseEvents();
    return stopped == S_OK && FAILED(closed) ? closed : stopped;
}

HRESULT CMediaEventThread::CloseEvents()
{
    HRESULT result = S_OK;
    for (Synchronization::CEvent* event : {&m_detachAcknowledge, &m_detachRequest, &m_attachAcknowledge,
                                            &m_attachRequest}) {
        const HRESULT hr = event->Close();
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    return result;
}

HRESULT CMediaEventThread::OnEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    if (m_callback == nullptr)
        return E_UNEXPECTED;
    m_callback(code, param1, param2);
    return S_OK;
}

HRESULT CMediaEventThread::Run()
{
    enum { StopIndex, AttachIndex, DetachIndex, GraphIndex };
    HANDLE graphEvent = nullptr;
    for (;;) {
        const HANDLE handles[] = {StopEvent(), m_attachRequest.Get(), m_detachRequest.Get(), graphEvent};
        const DWORD count = graphEvent != nullptr ? 4 : 3;
        const DWORD waited = ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (waited >= WAIT_OBJECT_0 + count)
            return Win32::ResultFromLastError();

        switch (waited - WAIT_OBJECT_0) {
        case StopIndex:
            return S_OK;

        case AttachIndex: {
            OAEVENT handle = 0;
            const HRESULT got = m_mediaEvent.IsValid() ? m_mediaEvent->GetEventHandle(&handle) : E_UNEXPECTED;
            if (SUCCEEDED(got))
                graphEvent = reinterpret_cast<HANDLE>(handle);
            const HRESULT signalled = m_attachAcknowledge.Set();
            if (FAILED(got))
                return got;
            if (FAILED(signalled))
                return signalled;
            break;
        }

        case DetachIndex: {
            graphEvent = nullptr;
            const HRESULT signalled = m_detachAcknowledge.Set();
            if (FAILED(signalled))
                return signalled;
            break;
        }

        case GraphIndex: {
            if (m_mediaEvent.IsNull())
                return E_UNEXPECTED;
            long code = 0;
            LONG_PTR param1 = 0;
            LONG_PTR param2 = 0;
            const HRESULT got = m_mediaEvent->GetEvent(&code, &param1, &param2, 0);
            if (got == E_ABORT)
                break; // the queue was empty
            if (FAILED(got))
                return got;
            if (got != S_OK)
                break;
            const HRESULT handled = OnEvent(code, param1, param2);
            const HRESULT freed = m_mediaEvent->FreeEventParams(code, param1, param2);
            if (FAILED(handled))
                return handled;
            if (FAILED(freed))
                return freed;
            break;
        }
        }
    }
}

} // namespace DirectShow
