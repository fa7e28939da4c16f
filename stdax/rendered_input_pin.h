#pragma once
// stdax::CRenderedInputPin: the input pin of a filter that renders its stream (nothing goes further
// downstream), and so tells the graph EC_COMPLETE when its stream has ended.
//
// EC_COMPLETE is sent once per run: at EndOfStream when the filter is Running, or at the next Run
// when the end of stream arrived while the filter was paused. Active (leaving Stopped) and EndFlush
// re-arm it.
//
// A derived pin replaces EndOfStream, BeginFlush and EndFlush and calls this class's EndOfStream and
// EndFlush from its own. EndOfStream takes no lock of the filter: a derived pin may call it while
// holding its own receive lock, as a filter's Stop holds the filter lock while waiting for that one.
#include "stdax/base_input_pin.h"

namespace stdax {

class CRenderedInputPin : public CBaseInputPin {
public:
    CRenderedInputPin(CBaseFilter* filter, Synchronization::CCriticalSection* lock, const AMOVIESETUP_PIN* setup,
                      LPCWSTR name, HRESULT* result);

    // Clears the end of stream and the completion notice; S_OK.
    HRESULT Active() override;
    // Re-arms the completion notice and sends it now when the stream has already ended.
    HRESULT Run(REFERENCE_TIME tStart) override;

    // CheckStreaming's refusal is returned. The first end of stream of a run is kept and, while the
    // filter is Running, reported to the graph; the result is that of the filter's GetState.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    // Under the filter lock: clears end of stream, the completion notice, flushing and the run-time
    // error; S_OK.
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    bool IsAtEndOfStream() const { return m_atEndOfStream != FALSE; }
    bool CompletionNotified() const { return m_completeNotified != FALSE; }

protected:
    // Sends EC_COMPLETE (S_OK, the filter) to the graph unless already sent in this run.
    void DoCompleteHandling();

    volatile LONG m_atEndOfStream;
    volatile LONG m_completeNotified;
};

} // namespace stdax
