#pragma once
// DirectShow::CMediaEventThread waits on the event queue of one filter graph at a time and hands every
// event to a callback. Attaching and detaching are requests that the worker carries out and
// acknowledges, so the handle the worker waits on is never released under it.
//
// The thread knows which graph it serves: Detach names the graph it detaches from, and a request for
// another graph leaves the attached one alone.
//
// Initialise, Attach, Detach and Shutdown are serialised by the object's lock. They may also be called
// on the worker, from inside the callback: the worker does not wait for itself there. A Detach or a
// Shutdown asked while the worker is inside the callback (on the worker or on any other thread) never
// waits for the callback: the worker drops the graph, or ends, once the callback has returned. The
// worker is never terminated while it is inside the callback. The worker takes only the short state
// lock, which nobody holds while waiting.
#include <windows.h>
#include <dshow.h>

#include "stdax/com/ptr.h"
#include "support/critical_section.h"
#include "support/event.h"
#include "support/thread_ex.h"

namespace DirectShow {

class CMediaEventThread : public Synchronization::CThreadEx {
public:
    // Receives each event: its code and its two parameters.
    using Callback = void (*)(long code, LONG_PTR param1, LONG_PTR param2);

    // How long Attach and Detach wait for the worker's acknowledgement.
    static constexpr DWORD AcknowledgeTimeout = 2000; // milliseconds
    // How long Initialise and Shutdown wait for a worker that is inside the callback to return from it.
    static constexpr DWORD CallbackReturnTimeout = 2000; // milliseconds

    CMediaEventThread();
    ~CMediaEventThread() override;

    // Creates the request and acknowledge events, keeps the callback and starts the worker.
    // E_POINTER if the callback is not code; E_UNEXPECTED when already initialised. A worker that was
    // asked to end from inside its callback is waited for first (VFW_E_TIMEOUT while it is still inside).
    HRESULT Initialise(Callback callback);
    // Takes the graph's event interface and has the worker wait on its event handle.
    // E_POINTER for a null graph, E_UNEXPECTED while attached. When the worker cannot take the graph's
    // event handle, or has ended, the failure is returned and nothing is kept. VFW_E_TIMEOUT when the
    // worker did not acknowledge in time (the interface is then kept for the worker that may still
    // take it).
    HRESULT Attach(IUnknown* graph);
    // Has the worker drop the event handle of the given graph (any attached graph when null), then
    // releases the interface. S_FALSE when that graph is not attached; VFW_E_TIMEOUT (interface kept)
    // when a live worker did not acknowledge in time. A worker that has ended needs no acknowledgement.
    HRESULT Detach(IUnknown* graph = nullptr);
    // Stops the worker and closes the events; an interface still held is released. On the worker, or
    // while the worker is inside the callback and does not return in time, the worker is only asked to
    // end once the callback has returned: S_FALSE on the worker, VFW_E_TIMEOUT from another thread; the
    // next Initialise or Shutdown completes it.
    HRESULT Shutdown();

    // Whether the calling thread is the worker.
    bool OnWorker() const;

protected:
    HRESULT Run() override;
    // Hands one event to the callback; E_UNEXPECTED when there is none.
    virtual HRESULT OnEvent(long code, LONG_PTR param1, LONG_PTR param2);

private:
    // Signals a request after clearing a stale acknowledgement (left by a request that timed out
    // earlier), then waits for the worker's acknowledgement or its end; *signalled tells whether the
    // request was signalled at all. E_UNEXPECTED when the worker ended without acknowledging.
    HRESULT Request(Synchronization::CEvent& request, Synchronization::CEvent& acknowledge, bool* signalled);
    // Whether a worker thread exists and has not ended.
    bool WorkerAlive() const;
    // Ends a worker that exists: asks it to stop, waits up to `wait` while it is inside the callback and
    // never terminates it there, then stops it and closes the events. VFW_E_TIMEOUT (all kept) when it is
    // still inside the callback. Called under the lock, never on the worker.
    HRESULT EndWorker(DWORD wait);
    HRESULT CloseEvents();
    // Drops the attached graph (under the state lock) and hands its interfaces to the caller to release.
    void TakeAttached(COM::TPtr<IMediaEvent>& mediaEvent, COM::TPtr<IUnknown>& graph);

    Synchronization::CCriticalSection m_lock;
    Synchronization::CEvent m_attachRequest;
    Synchronization::CEvent m_attachAcknowledge;
    Synchronization::CEvent m_detachRequest;
    Synchronization::CEvent m_detachAcknowledge;
    Callback m_callback;
    bool m_ending;  // the worker was asked to end but may still be inside the callback

    // Shared with the worker, under the state lock (held only for a few instructions).
    Synchronization::CCriticalSection m_stateLock;
    COM::TPtr<IMediaEvent> m_mediaEvent;  // the attached graph's event interface
    COM::TPtr<IUnknown> m_graph;          // the attached graph's identity
    HANDLE m_graphEvent;                  // the handle the worker waits on; null when detached
    HRESULT m_attachResult;               // the worker's answer to the last attach request
    bool m_inCallback;                    // the worker is handling an event (inside the callback)
};

} // namespace DirectShow
