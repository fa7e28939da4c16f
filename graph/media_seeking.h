#pragma once
// DirectShow::CMediaSeeking: reads the duration and the current position of the graph it is attached
// to, in the seeking interface's time format (media time in 100-ns units; the library never changes it).
#include <windows.h>
#include <dshow.h>

#include "graph/filter_graph_client.h"

namespace DirectShow {

class CMediaSeeking : public TFilterGraphClient<IMediaSeeking> {
public:
    // E_UNEXPECTED when not attached; otherwise the graph's result.
    HRESULT GetDuration(LONGLONG* duration);
    HRESULT GetCurrentPosition(LONGLONG* position);
    HRESULT GetStopPosition(LONGLONG* position);
    // Whether SetPosition would take the time: E_INVALIDARG for a time before 0 or after the duration;
    // E_NOTIMPL when the stream cannot seek to an absolute time.
    HRESULT CheckPosition(LONGLONG position);
    // Moves the current position to the absolute time, the stop position left as it is; the graph keeps
    // its state (running or paused). The refusals of CheckPosition change nothing.
    HRESULT SetPosition(LONGLONG position);
};

} // namespace DirectShow
