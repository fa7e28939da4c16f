#pragma once
// DirectShow::CMediaControl: runs, pauses and stops the graph it is attached to.
#include <windows.h>
#include <dshow.h>

#include "graph/filter_graph_client.h"

namespace DirectShow {

class CMediaControl : public TFilterGraphClient<IMediaControl> {
public:
    // E_UNEXPECTED when not attached; otherwise the graph's result.
    HRESULT Run();
    HRESULT Stop();
    // Runs a paused graph and pauses a graph in any other state. When the change succeeded and paused
    // is given, *paused tells whether the graph was just paused (E_POINTER if it is not writable).
    HRESULT TogglePause(bool* paused);
    // Pauses the graph and waits at most the time for the pause to complete, that is for every renderer
    // to hold its first sample (prerolled). S_OK when paused; VFW_S_STATE_INTERMEDIATE when the time ran
    // out with the graph still on its way (it stays pausing); VFW_S_CANT_CUE for a live source; a
    // failure of the graph otherwise.
    HRESULT Preroll(DWORD milliseconds);
};

} // namespace DirectShow
