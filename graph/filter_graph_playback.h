#pragma once
// CFilterGraph_Playback builds the graph that plays a file or URL: the platform's URL source filter
// reads it, and the graph manager renders the source's output with whatever decoders and renderers
// the stream needs. Create and Free are the base's: the graph is an ordinary, unpublished one.
#include <windows.h>

#include "graph/filter_graph.h"
#include "graph/playback_transport.h"
#include "support/critical_section.h"

class CFilterGraph_Playback : public DirectShow::CFilterGraph {
public:
    CFilterGraph_Playback();
    ~CFilterGraph_Playback() override;

    // Builds the graph for the path or URL; the number is only traced. A graph built before is refused
    // (E_UNEXPECTED) and stays as it is; a build that fails half-way stays held until Free.
    // rendererId names the audio renderer to play on by its id (see COutputDeviceList); null lets the
    // graph manager choose (the default). A renderer that is not present fails with
    // HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED).
    HRESULT Init(const wchar_t* path, int number, const wchar_t* rendererId = nullptr);

    // Runs, pauses, seeks and tells the position of the graph built (see CPlaybackTransport); Init
    // resets it.
    DirectShow::CPlaybackTransport& Transport() { return m_transport; }

private:
    // Adds the audio renderer whose id is rendererId to the graph, under its friendly name.
    HRESULT InsertRenderer(const wchar_t* rendererId);

    Synchronization::CCriticalSection m_lock;
    DirectShow::CPlaybackTransport m_transport;
};
