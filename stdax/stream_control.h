#pragma once
// CBaseStreamControl: IAMStreamControl for a pin that can start and stop its stream at given
// reference times.
//
// A pin class mixes it in after its other bases and answers IID_IAMStreamControl with it; its
// IUnknown methods are the host pin's. The host filter feeds it:
//   SetSyncSource(clock)          from the filter's SetSyncSource
//   SetFilterGraph(sink)          from the filter's JoinFilterGraph, with the filter's event sink
//   NotifyFilterState(state, t)   from the filter's Stop, Pause and Run
//   Flushing(TRUE / FALSE)        from the pin's BeginFlush and EndFlush
// and the pin's Receive asks CheckStreamState(sample) whether the sample flows or is discarded.
//
// The stream is flowing or discarding. A scheduled start or stop switches it when a sample's time
// span reaches it, when the filter stops, or at once for a command without a time. A discarded
// sample whose time lies ahead of the clock is held until its time, so that a start scheduled inside
// the wait still lets it through; while paused the hold lasts until a command, a state change or a
// flush. Starts and stops with a non-zero cookie are reported to the graph as
// EC_STREAM_CONTROL_STARTED / EC_STREAM_CONTROL_STOPPED (this interface, cookie).
//
// Every field is guarded by the object's own lock, which is never held while waiting.
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

enum StreamControlState : DWORD {
    STREAM_FLOWING = 0x1000,
    STREAM_DISCARDING = 0x1001,
};

class CBaseStreamControl : public IAMStreamControl {
public:
    // No scheduled start or stop.
    static constexpr REFERENCE_TIME MaxTime = 0x7FFFFFFFFFFFFFFFLL;

    // *result (when given and still a success) receives the failure to create the stream event.
    explicit CBaseStreamControl(HRESULT* result = nullptr);
    virtual ~CBaseStreamControl();

    CBaseStreamControl(const CBaseStreamControl&) = delete;
    CBaseStreamControl& operator=(const CBaseStreamControl&) = delete;

    // IAMStreamControl. ptStart / ptStop null: now; *pt == MaxTime: cancel. Always S_OK (E_POINTER
    // for a time that cannot be read).
    HRESULT STDMETHODCALLTYPE StartAt(const REFERENCE_TIME* ptStart, DWORD dwCookie) override;
    HRESULT STDMETHODCALLTYPE StopAt(const REFERENCE_TIME* ptStop, BOOL bSendExtra, DWORD dwCookie) override;
    HRESULT STDMETHODCALLTYPE GetInfo(AM_STREAM_INFO* pInfo) override;

    // For the host filter and pin.
    void SetSyncSource(IReferenceClock* pClock);
    void SetFilterGraph(IMediaEventSink* pSink);
    void Flushing(BOOL bInProgress);
    void NotifyFilterState(FILTER_STATE newState, REFERENCE_TIME tStart = 0);
    // STREAM_FLOWING or STREAM_DISCARDING for this sample (null: a sample without times). May wait:
    // see above.
    StreamControlState CheckStreamState(IMediaSample* pSample);

    StreamControlState StreamState() const { return m_streamState; }

private:
    void ExecuteStart();
    void ExecuteStop();
    StreamControlState CheckSampleTimes(REFERENCE_TIME start, REFERENCE_TIME stop);
    void Signal() { ::SetEvent(m_streamEvent); }

    StreamControlState m_streamState;
    StreamControlState m_stateAfterStop;
    REFERENCE_TIME m_startTime;
    REFERENCE_TIME m_stopTime;
    DWORD m_startCookie;
    DWORD m_stopCookie;
    BOOL m_controlFlushing;
    BOOL m_sendExtraOnStop;
    BOOL m_extraSent;
    Synchronization::CCriticalSection m_controlLock;
    HANDLE m_streamEvent;
    IReferenceClock* m_clock;
    IMediaEventSink* m_eventSink;
    FILTER_STATE m_filterState;
    REFERENCE_TIME m_runStart;
};
