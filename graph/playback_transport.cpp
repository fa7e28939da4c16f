#include "graph/playback_transport.h"

#include <algorithm>

#include "graph/filter_graph_client.h"
#include "graph/media_seeking.h"
#include "stdax/com/ptr.h"

namespace DirectShow {

namespace {

// The graph's clock now; S_FALSE (and *now 0) when the graph has none.
HRESULT ClockTime(IMediaFilter* filter, REFERENCE_TIME* now)
{
    *now = 0;
    COM::TPtr<IReferenceClock> clock;
    const HRESULT hr = filter->GetSyncSource(&clock.p);
    if (FAILED(hr))
        return hr;
    if (clock.IsNull())
        return S_FALSE;
    return clock.p->GetTime(now);
}

// The state the graph is in, or heading for while it changes.
HRESULT StateOf(IMediaFilter* filter, FILTER_STATE* state)
{
    const HRESULT hr = filter->GetState(0, state);
    return hr == VFW_S_STATE_INTERMEDIATE || hr == VFW_S_CANT_CUE ? S_OK : hr;
}

} // namespace

void CPlaybackTransport::Reset()
{
    m_clocked = false;
    m_running = false;
    m_origin = 0;
    m_stop = 0;
    m_streamStart = 0;
    m_pausedStreamTime = 0;
    m_resumeLead = kRestartLead;
}

REFERENCE_TIME CPlaybackTransport::StreamTime(REFERENCE_TIME now) const
{
    return m_running ? std::max<REFERENCE_TIME>(0, now - m_streamStart) : m_pausedStreamTime;
}

HRESULT CPlaybackTransport::RunOn(const CFilterGraph& graph, REFERENCE_TIME now, REFERENCE_TIME lead)
{
    TFilterGraphClient<IMediaFilter> filter;
    HRESULT hr = filter.Attach(graph);
    if (FAILED(hr))
        return hr;
    const REFERENCE_TIME streamStart = now + lead - m_pausedStreamTime;
    hr = filter.p->Run(streamStart);
    if (SUCCEEDED(hr)) {
        m_streamStart = streamStart;
        m_running = true;
    }
    return hr;
}

HRESULT CPlaybackTransport::Start(const CFilterGraph& graph, REFERENCE_TIME lead)
{
    Reset();
    TFilterGraphClient<IMediaFilter> filter;
    CMediaSeeking seeking;
    REFERENCE_TIME now = 0;
    HRESULT hr = filter.Attach(graph);
    if (SUCCEEDED(hr))
        hr = seeking.Attach(graph);
    if (SUCCEEDED(hr))
        hr = ClockTime(filter.p, &now);
    if (FAILED(hr))
        return hr;
    if (hr == S_FALSE) {
        TFilterGraphClient<IMediaControl> control;
        hr = control.Attach(graph);
        return SUCCEEDED(hr) ? control.p->Run() : hr;
    }
    // A source that cannot tell where it is starts at 0; one that cannot tell its end is not held to it.
    if (FAILED(seeking.GetCurrentPosition(&m_origin)))
        m_origin = 0;
    if (FAILED(seeking.GetStopPosition(&m_stop)) && FAILED(seeking.GetDuration(&m_stop)))
        m_stop = 0;
    hr = RunOn(graph, now, lead);
    m_clocked = SUCCEEDED(hr);
    return hr;
}

HRESULT CPlaybackTransport::TogglePause(const CFilterGraph& graph, bool* paused)
{
    TFilterGraphClient<IMediaFilter> filter;
    FILTER_STATE state = State_Stopped;
    HRESULT hr = filter.Attach(graph);
    if (SUCCEEDED(hr))
        hr = StateOf(filter.p, &state);
    if (FAILED(hr))
        return hr;
    const bool pausing = state != State_Paused;
    if (!m_clocked) {
        TFilterGraphClient<IMediaControl> control;
        hr = control.Attach(graph);
        if (SUCCEEDED(hr))
            hr = pausing ? control.p->Pause() : control.p->Run();
    } else {
        REFERENCE_TIME now = 0;
        hr = ClockTime(filter.p, &now);
        if (SUCCEEDED(hr) && pausing) {
            TFilterGraphClient<IMediaControl> control;
            hr = control.Attach(graph);
            if (SUCCEEDED(hr))
                hr = control.p->Pause();
            if (SUCCEEDED(hr) && m_running) {
                // Paused before its stream started, the audio path may still be waking: the run from
                // here keeps what was left of the lead.
                m_pausedStreamTime = StreamTime(now);
                m_resumeLead = std::max(kRestartLead, m_streamStart - now);
                m_running = false;
            }
        } else if (SUCCEEDED(hr)) {
            hr = RunOn(graph, now, m_resumeLead);
            if (SUCCEEDED(hr))
                m_resumeLead = kRestartLead;
        }
    }
    if (SUCCEEDED(hr) && paused != nullptr) {
        if (::IsBadWritePtr(paused, sizeof(*paused)))
            return E_POINTER;
        *paused = pausing;
    }
    return hr;
}

HRESULT CPlaybackTransport::Seek(const CFilterGraph& graph, LONGLONG position)
{
    CMediaSeeking seeking;
    HRESULT hr = seeking.Attach(graph);
    if (SUCCEEDED(hr))
        hr = seeking.CheckPosition(position);
    if (FAILED(hr) || !m_clocked)
        return FAILED(hr) ? hr : seeking.SetPosition(position);

    TFilterGraphClient<IMediaFilter> filter;
    TFilterGraphClient<IMediaControl> control;
    FILTER_STATE state = State_Stopped;
    REFERENCE_TIME now = 0;
    hr = filter.Attach(graph);
    if (SUCCEEDED(hr))
        hr = control.Attach(graph);
    if (SUCCEEDED(hr))
        hr = StateOf(filter.p, &state);
    if (SUCCEEDED(hr))
        hr = ClockTime(filter.p, &now);
    if (FAILED(hr))
        return hr;
    const bool wasRunning = state == State_Running;
    if (wasRunning) {
        hr = control.p->Pause();
        if (FAILED(hr))
            return hr;
        if (m_running) {
            m_pausedStreamTime = StreamTime(now);
            m_resumeLead = std::max(kRestartLead, m_streamStart - now);
            m_running = false;
        }
    }
    hr = seeking.SetPosition(position);
    if (SUCCEEDED(hr)) {
        // The stream starts again from the new position: its times count from 0 there.
        m_origin = position;
        m_pausedStreamTime = 0;
    }
    if (wasRunning) {
        // Run on whatever the seek gave: a playback left paused by a seek would look hung.
        OAFilterState reached = State_Stopped;
        control.p->GetState(static_cast<LONG>(kSeekPrerollMilliseconds), &reached);
        REFERENCE_TIME then = now;
        ClockTime(filter.p, &then);
        const HRESULT run = RunOn(graph, then, m_resumeLead);
        m_resumeLead = kRestartLead;
        if (SUCCEEDED(hr))
            hr = run;
    }
    return hr;
}

HRESULT CPlaybackTransport::GetPosition(const CFilterGraph& graph, LONGLONG* position) const
{
    if (!m_clocked) {
        CMediaSeeking seeking;
        HRESULT hr = seeking.Attach(graph);
        return SUCCEEDED(hr) ? seeking.GetCurrentPosition(position) : hr;
    }
    TFilterGraphClient<IMediaFilter> filter;
    REFERENCE_TIME now = 0;
    HRESULT hr = filter.Attach(graph);
    if (SUCCEEDED(hr))
        hr = ClockTime(filter.p, &now);
    if (FAILED(hr))
        return hr;
    LONGLONG at = m_origin + StreamTime(now);
    if (m_stop > 0)
        at = std::min(at, m_stop);
    *position = at;
    return S_OK;
}

} // namespace DirectShow
