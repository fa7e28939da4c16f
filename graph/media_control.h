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
};

} // namespace DirectShow
