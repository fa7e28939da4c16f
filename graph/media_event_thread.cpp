#include "graph/media_event_thread.h"

#include "support/system_error.h"

#include <initializer_list>
#include <utility>

namespace DirectShow {

CMediaEventThread::CMediaEventThread()
    : m_callback(nullptr), m_ending(false), m_graphEvent(nullptr), m_attachResult(S_OK), m_inCallback(false)
{
}

CMediaEventThread::~CMediaEventThread()
{
    // The worker uses this object's members: it must be gone before they are, whatever Detach says
    // (the base destructor would stop it only after them).
    Detach();
    Shutdown();
}

bool CMediaEventThread::OnWorker() const
{
    return ThreadHandle() != nullptr && ::GetCurrentThreadId() == ThreadId();
}

bool CMediaEventThread::WorkerAlive() const
{
    return ThreadHandle() != nullptr && ::WaitForSingleObject(ThreadHandle(), 0) == WAIT_TIMEOUT;
}

void CMediaEventThread::TakeAttached(COM::TPtr<IMediaEvent>& mediaEvent, COM::TPtr<IUnknown>& graph)
{
    Synchronization::CAutoLock state(&m_stateLock);
    m_graphEvent = nullptr;
    mediaEvent = std::move(m_mediaEvent);
    graph = std::move(m_graph);
}

HRESULT CMediaEventThread::Initialise(Callback callback)
{
    if (callback == nullptr || ::IsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback))))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_lock);
    if (OnWorker())
        return E_UNEXPECTED; // the worker is running (it is this thread)
    if (m_ending) {
        // A worker asked to end from inside its callback: it must be gone before a new one starts.
        const HRESULT ended = EndWorker(CallbackReturnTimeout);
        if (FAILED(ended))
            return ended;
    }
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
    // A worker that ends instead of acknowledging is noticed at once, not after the time-out.
    const HANDLE handles[] = {acknowledge.Get(), ThreadHandle()};
    const DWORD count = handles[1] != nullptr ? 2 : 1;
    const DWORD waited = ::WaitForMultipleObjects(count, handles, FALSE, AcknowledgeTimeout);
    if (waited == WAIT_OBJECT_0)
        return S_OK;
    if (waited == WAIT_TIMEOUT)
        return VFW_E_TIMEOUT;
    if (waited == WAIT_OBJECT_0 + 1) {
        DWORD exitCode = 0;
        const HRESULT ended = ::GetExitCodeThread(handles[1], &exitCode) ? static_cast<HRESULT>(exitCode) : S_OK;
        return FAILED(ended) ? ended : E_UNEXPECTED;
    }
    return Win32::ResultFromLastError();
}

HRESULT CMediaEventThread::Attach(IUnknown* graph)
{
    if (graph == nullptr)
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_lock);
    // A worker asked to end watches nothing more: as after Shutdown, there is nobody to attach to.
    if (m_ending)
        return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    {
        Synchronization::CAutoLock state(&m_stateLock);
        if (m_mediaEvent.IsValid())
            return E_UNEXPECTED;
    }
    COM::TPtr<IMediaEvent> mediaEvent;
    HRESULT hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&mediaEvent));
    if (FAILED(hr))
        return hr;
    COM::TPtr<IUnknown> identity;
    hr = graph->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    if (FAILED(hr))
        return hr;

    if (OnWorker()) {
        // From inside the callback: the worker is this thread, it takes the handle itself and waits on
        // it once the callback has returned.
        OAEVENT handle = 0;
        hr = mediaEvent->GetEventHandle(&handle);
        if (FAILED(hr))
            return hr;
        Synchronization::CAutoLock state(&m_stateLock);
        m_mediaEvent = std::move(mediaEvent);
        m_graph = std::move(identity);
        m_graphEvent = reinterpret_cast<HANDLE>(handle);
        return S_OK;
    }

    {
        Synchronization::CAutoLock state(&m_stateLock);
        m_mediaEvent = std::move(mediaEvent);
        m_graph = std::move(identity);
        m_attachResult = E_UNEXPECTED;
    }
    bool signalled = false;
    hr = Request(m_attachRequest, m_attachAcknowledge, &signalled);
    if (hr == S_OK) {
        Synchronization::CAutoLock state(&m_stateLock);
        hr = m_attachResult;
    }
    // Nobody watches the graph when the request reached no worker (not initialised, or shut down), when
    // the worker could not take the graph's event handle, or when it has ended: the interface is not
    // kept, or it would refuse every later Attach and make every Detach wait for an answer. After a
    // time-out a live worker may still take it, and it stays.
    if (FAILED(hr) && hr != VFW_E_TIMEOUT) {
        COM::TPtr<IMediaEvent> dropped;
        COM::TPtr<IUnknown> droppedGraph;
        TakeAttached(dropped, droppedGraph);
    }
    return hr;
}

HRESULT CMediaEventThread::Detach(IUnknown* graph)
{
    Synchronization::CAutoLock lock(&m_lock);
    COM::TPtr<IUnknown> identity;
    if (graph != nullptr && FAILED(graph->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
        return S_FALSE;
    bool inCallback = false;
    {
        Synchronization::CAutoLock state(&m_stateLock);
        if (m_mediaEvent.IsNull())
            return S_FALSE;
        if (identity.IsValid() && identity.p != m_graph.p)
            return S_FALSE; // another graph is attached: it is not this caller's to detach
        // From here on the worker no longer starts handling this graph's events; one it is handling
        // already (inside the callback) keeps its own reference until it has finished.
        m_graphEvent = nullptr;
        inCallback = m_inCallback;
    }
    HRESULT hr = S_OK;
    // The worker inside the callback does not wait on the handle: nothing to wait for (it may be this
    // thread). A worker that has ended waits on nothing either.
    if (!inCallback && WorkerAlive()) {
        bool signalled = false;
        hr = Request(m_detachRequest, m_detachAcknowledge, &signalled);
        if (hr != S_OK && WorkerAlive())
            return hr; // a live worker did not answer: it may still wait on the handle, which stays
        hr = S_OK;
    }
    COM::TPtr<IMediaEvent> released;
    COM::TPtr<IUnknown> releasedGraph;
    TakeAttached(released, releasedGraph);
    return hr;
}

HRESULT CMediaEventThread::Shutdown()
{
    Synchronization::CAutoLock lock(&m_lock);
    COM::TPtr<IMediaEvent> released;
    COM::TPtr<IUnknown> releasedGraph;
    if (OnWorker()) {
        // From inside the callback: the worker ends itself once the callback has returned; its events
        // and handle are closed by the next Initialise or Shutdown.
        TakeAttached(released, releasedGraph);
        m_ending = true;
        const HRESULT requested = RequestStop();
        return FAILED(requested) ? requested : S_FALSE;
    }
    const HRESULT hr = EndWorker(CallbackReturnTimeout);
    // Nobody can take the interface any more (the worker has ended, or ends once its callback returns
    // without looking at the graph again).
    TakeAttached(released, releasedGraph);
    return hr;
}

HRESULT CMediaEventThread::EndWorker(DWORD wait)
{
    if (ThreadHandle() != nullptr) {
        RequestStop();
        if (::WaitForSingleObject(ThreadHandle(), wait) != WAIT_OBJECT_0) {
            Synchronization::CAutoLock state(&m_stateLock);
            // Still inside Java: it is never terminated there. It ends once the callback returns.
            if (m_inCallback) {
                m_ending = true;
                return VFW_E_TIMEOUT;
            }
            // Not inside the callback, and it will not enter it any more (the stop event is set): Stop
            // may wait for it and, as the last resort, terminate it.
        }
    }
    const HRESULT stopped = Stop();
    m_ending = false;
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
    for (;;) {
        HANDLE graphEvent = nullptr;
        {
            Synchronization::CAutoLock state(&m_stateLock);
            graphEvent = m_graphEvent;
        }
        const HANDLE handles[] = {StopEvent(), m_attachRequest.Get(), m_detachRequest.Get(), graphEvent};
        const DWORD count = graphEvent != nullptr ? 4 : 3;
        const DWORD waited = ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (waited >= WAIT_OBJECT_0 + count)
            return Win32::ResultFromLastError();

        switch (waited - WAIT_OBJECT_0) {
        case StopIndex:
            return S_OK;

        case AttachIndex: {
            COM::TPtr<IMediaEvent> mediaEvent;
            {
                Synchronization::CAutoLock state(&m_stateLock);
                mediaEvent = m_mediaEvent;
            }
            OAEVENT handle = 0;
            const HRESULT got = mediaEvent.IsValid() ? mediaEvent->GetEventHandle(&handle) : E_UNEXPECTED;
            {
                Synchronization::CAutoLock state(&m_stateLock);
                if (SUCCEEDED(got) && m_mediaEvent.p == mediaEvent.p)
                    m_graphEvent = reinterpret_cast<HANDLE>(handle);
                m_attachResult = got;
            }
            const HRESULT signalled = m_attachAcknowledge.Set();
            if (FAILED(got))
                return got;
            if (FAILED(signalled))
                return signalled;
            break;
        }

        case DetachIndex: {
            {
                Synchronization::CAutoLock state(&m_stateLock);
                m_graphEvent = nullptr;
            }
            const HRESULT signalled = m_detachAcknowledge.Set();
            if (FAILED(signalled))
                return signalled;
            break;
        }

        case GraphIndex: {
            COM::TPtr<IMediaEvent> mediaEvent;
            {
                Synchronization::CAutoLock state(&m_stateLock);
                // Detached (or attached anew) since the wait began: the handle is not ours any more.
                if (m_graphEvent != graphEvent)
                    break;
                // Asked to end: no callback begins after that, so the worker is never terminated
                // inside one.
                if (::WaitForSingleObject(StopEvent(), 0) == WAIT_OBJECT_0)
                    return S_OK;
                if (m_mediaEvent.IsNull())
                    return E_UNEXPECTED;
                mediaEvent = m_mediaEvent;
                m_inCallback = true;
            }
            long code = 0;
            LONG_PTR param1 = 0;
            LONG_PTR param2 = 0;
            HRESULT result = mediaEvent->GetEvent(&code, &param1, &param2, 0);
            if (result == S_OK) {
                const HRESULT handled = OnEvent(code, param1, param2);
                const HRESULT freed = mediaEvent->FreeEventParams(code, param1, param2);
                result = FAILED(handled) ? handled : freed;
            } else if (result == E_ABORT || SUCCEEDED(result)) {
                result = S_OK; // the queue was empty
            }
            {
                Synchronization::CAutoLock state(&m_stateLock);
                m_inCallback = false;
            }
            if (FAILED(result))
                return result;
            break;
        }
        }
    }
}

} // namespace DirectShow
