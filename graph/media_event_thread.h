#pragma once
// DirectShow::CMediaEventThread waits on the event queue of one filter graph at a time and hands every
// event to a callback. Attaching and detaching are requests that the worker carries out and
// acknowledges, so the set of handles the worker waits on only ever changes on the worker itself.
//
// Initialise, Attach, Detach and Shutdown may be called from any thread except the worker (which
// cannot acknowledge its own request: such a call times out). They are serialised by the object's lock;
// the worker never takes it. The callback runs on the worker, outside every lock.
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

    CMediaEventThread();
    ~CMediaEventThread() override;

    // Creates the request and acknowledge events, keeps the callback and starts the worker.
    // E_POINTER if the callback is not code; E_UNEXPECTED when already initialised.
    HRESULT Initialise(Callback callback);
    // Takes the graph's event interface and has the worker wait on its event handle.
    // E_POINTER for a null graph, E_UNEXPECTED while attached, VFW_E_TIMEOUT when the worker did not
    // acknowledge in time (the interface is then kept for the worker that may still take it).
    HRESULT Attach(IUnknown* graph);
    // Has the worker drop the graph's event handle, then releases the interface. S_FALSE when not
    // attached; VFW_E_TIMEOUT (interface kept) when the worker did not acknowledge in time.
    HRESULT Detach();
    // Stops the worker and closes the events. Once the worker is gone, an interface still held is
    // released too, so that a later Attach can start afresh.
    HRESULT Shutdown();

protected:
    HRESULT Run() override;
    // Hands one event to the callback; E_UNEXPECTED when there is none.
    virtual HRESULT OnEvent(long code, LONG_PTR param1, LONG_PTR param2);

private:
    // Signals a request after clearing a stale acknowledgement (left by a request that timed out
    // earlier), then waits for the worker's acknowledgement; *signalled tells whether the request was
    // signalled at all.
    static HRESULT Request(Synchronization::CEvent& request, Synchronization::CEvent& acknowledge, bool* signalled);
    HRESULT CloseEvents();

    Synchronization::CCriticalSection m_lock;
    Synchronization::CEvent m_attachRequest;
    Synchronization::CEvent m_attachAcknowledge;
    Synchronization::CEvent m_detachRequest;
    Synchronization::CEvent m_detachAcknowledge;
    COM::TPtr<IMediaEvent> m_mediaEvent;
    Callback m_callback;
};

} // namespace DirectShow
