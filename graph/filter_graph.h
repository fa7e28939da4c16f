#pragma once
// DirectShow::CFilterGraph owns one filter graph manager and offers the graph operations the library
// needs: create it (optionally publishing it in the running object table), add filters, find pins,
// connect and render them, and release everything again. The held pointer is the graph's IFilterGraph;
// a graph object is "held" while it is set.
//
// No lock of its own: the graph classes and the Java binding call it under their locks.
#include <windows.h>
#include <dshow.h>

#include "stdax/com/ptr.h"

namespace DirectShow {

// A filter's class creation function: creates the filter with the given outer unknown and hands out
// the asked-for interface.
using FilterCreationFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

class CFilterGraph : public COM::TPtr<IFilterGraph> {
public:
    CFilterGraph();
    ~CFilterGraph() override;
    CFilterGraph(const CFilterGraph&) = delete;
    CFilterGraph& operator=(const CFilterGraph&) = delete;

    // Creates the graph manager in process. E_UNEXPECTED while a graph is held. When publishing is on,
    // the graph is also registered in the running object table; that registration's own result is not
    // returned (a graph that could not be published is still usable).
    virtual HRESULT Create();
    // Stops the graph and every filter still active (see StopForRelease), revokes a registration and
    // releases the graph. S_FALSE when no graph is held.
    virtual HRESULT Free();

    // Adds the filter under the given name. E_UNEXPECTED when no graph is held.
    HRESULT AddFilter(IBaseFilter* filter, const wchar_t* name);
    // Creates the filter in process from its class id and adds it; *filter (if given) receives a
    // reference of its own when it was added.
    HRESULT AddFilter(REFCLSID classId, const wchar_t* name, IBaseFilter** filter);
    // Creates the filter through its class creation function and adds it.
    HRESULT AddFilter(FilterCreationFunction create, const wchar_t* name, IBaseFilter** filter);
    // Adds the source filter that the moniker names (a capture device, for example).
    HRESULT AddSourceFilterForMoniker(IMoniker* moniker, const wchar_t* name, IBaseFilter** filter);

    // Connects exactly these two pins, with no media type given.
    HRESULT ConnectDirect(IPin* output, IPin* input);
    // Lets the graph manager add and connect whatever the output's stream needs to be played. With
    // AM_RENDEREX_RENDERTOEXISTINGRENDERERS it uses only renderers already in the graph.
    HRESULT RenderPin(IPin* output, DWORD flags = 0);

    // The first pin of the filter, in its enumeration order, with the wanted direction.
    // VFW_E_NOT_FOUND (*pin stays null) when it has none.
    static HRESULT FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);

protected:
    // Makes the held graph releasable: stops it through its media control, then stops every filter
    // that is still not stopped. A graph manager that failed to run a graph can leave the filters it
    // had already paused active while it counts itself stopped; such a graph ignores Stop and can never
    // remove those filters, so its release would not end. Stopping also ends the streaming, and the
    // callbacks with it, of a graph that someone else (the media event thread) still holds.
    void StopForRelease();
    HRESULT RegisterInTable();
    HRESULT RevokeFromTable();

    bool m_registerInTable;   // publish the graph in the running object table when it is created
    DWORD m_tableCookie;      // the registration's cookie; 0 when not registered
    bool m_withoutOwnThread;  // create the graph manager variant without its own worker thread
};

} // namespace DirectShow
