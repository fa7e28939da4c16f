#include "stdax/rendered_input_pin.h"

#include <evcode.h>

namespace stdax {

CRenderedInputPin::CRenderedInputPin(CBaseFilter* filter, Synchronization::CCriticalSection* lock,
                                     const AMOVIESETUP_PIN* setup, LPCWSTR name, HRESULT* result)
    : CBaseInputPin(filter, lock, setup, name, result), m_atEndOfStream(FALSE), m_completeNotified(FALSE)
{
}

HRESULT CRenderedInputPin::Active()
{
    m_atEndOfStream = FALSE;
    m_completeNotified = FALSE;
    return S_OK;
}

HRESULT CRenderedInputPin::Run(REFERENCE_TIME)
{
    m_completeNotified = FALSE;
    if (m_atEndOfStream)
        DoCompleteHandling();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRenderedInputPin::EndOfStream()
{
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    // Only the first end of stream of a run counts.
    if (::InterlockedExchange(&m_atEndOfStream, TRUE) != FALSE)
        return S_OK;
    FILTER_STATE state = State_Stopped;
    const HRESULT got = m_filter->BaseFilterInterface()->GetState(0, &state);
    // Paused: the next Run reports it.
    if (SUCCEEDED(got) && state == State_Running)
        DoCompleteHandling();
    return got;
}

HRESULT STDMETHODCALLTYPE CRenderedInputPin::EndFlush()
{
    Synchronization::CAutoLock lock(m_lock);
    m_atEndOfStream = FALSE;
    m_completeNotified = FALSE;
    m_flushing = FALSE;
    m_runtimeError = FALSE;
    return S_OK;
}

void CRenderedInputPin::DoCompleteHandling()
{
    // The streaming thread (EndOfStream) and the graph's thread (Run) may both get here at once:
    // only one of them reports.
    if (::InterlockedExchange(&m_completeNotified, TRUE) != FALSE)
        return;
    IMediaEventSink* const sink = m_filter->EventSink();
    if (sink != nullptr)
        sink->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(m_filter->BaseFilterInterface()));
}

} // namespace stdax
