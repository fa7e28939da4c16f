#pragma once
// DirectShow::CPlaybackTransport runs, pauses and seeks a playback graph at stream start times of its own
// choosing, and tells the playback's position from them.
//
// A playback's stream starts a lead after the graph is run: the renderer, holding its first samples, fills
// its device with the lead in silence before the first one is due. An audio path that was idle (a sound
// server just started, a headset waking) drops what it is given while it starts, up to about 0.9 s
// measured; with the lead it drops silence instead of the start of the file. A graph manager counts its
// position from the moment it was run, not from a start time given to it (and some count from neither):
// the transport keeps the stream's own clock instead, where stream time 0 is in the media and when it
// starts on the graph's clock, so that the position reads the start of the file until it is heard, and
// pause and seek during the lead act on the stream that is about to be heard.
//
// No lock of its own: the binding calls it under the library lock.
#include <windows.h>
#include <dshow.h>

#include "graph/filter_graph.h"

namespace DirectShow {

class CPlaybackTransport {
public:
    // How long a restarted stream (resumed, or run again after a seek) waits for its first sample: the
    // audio path is running by then.
    static constexpr REFERENCE_TIME kRestartLead = 200 * 10000;

    // Forgets the stream of the graph before: the position is the graph's own until Start.
    void Reset();
    // Runs the paused graph with its stream starting the lead (100-ns units) after the present time of
    // the graph's clock. A graph without a clock is run at once and its position stays the graph's own.
    HRESULT Start(const CFilterGraph& graph, REFERENCE_TIME lead);
    // Pauses a running graph and runs a paused one on from where it paused, kRestartLead ahead (or what
    // was left of the start's lead when it was paused before its stream started). A graph still changing
    // its state is toggled from the state it is heading for. When the change succeeded and paused is
    // given, *paused tells whether the graph was just paused (E_POINTER if it is not writable).
    HRESULT TogglePause(const CFilterGraph& graph, bool* paused);
    // Moves the stream to the absolute media time; refusals as CMediaSeeking::CheckPosition, with nothing
    // changed. A running graph is paused for the seek, waits at most kSeekPrerollMilliseconds for its
    // renderer to hold the new position's audio, and runs on kRestartLead ahead; a paused one stays
    // paused at the new position.
    HRESULT Seek(const CFilterGraph& graph, LONGLONG position);
    // The position of the stream in media time: where stream time 0 is plus the stream time passed,
    // never beyond the stop position (the end reached reads the end).
    HRESULT GetPosition(const CFilterGraph& graph, LONGLONG* position) const;

private:
    static constexpr DWORD kSeekPrerollMilliseconds = 2000;

    // Runs the graph with stream time 0 at m_streamStart, set so that the stream time reached goes on
    // the lead after now.
    HRESULT RunOn(const CFilterGraph& graph, REFERENCE_TIME now, REFERENCE_TIME lead);
    // The stream time reached at the clock time now.
    REFERENCE_TIME StreamTime(REFERENCE_TIME now) const;

    bool m_clocked = false;              // Start ran the graph on its clock: the position is the transport's
    bool m_running = false;              // run at m_streamStart; otherwise paused at m_pausedStreamTime
    LONGLONG m_origin = 0;               // the media time at stream time 0
    LONGLONG m_stop = 0;                 // the stop position; 0 when the graph could not tell
    REFERENCE_TIME m_streamStart = 0;    // the clock time of stream time 0 while running
    REFERENCE_TIME m_pausedStreamTime = 0;
    REFERENCE_TIME m_resumeLead = kRestartLead;
};

} // namespace DirectShow
