#include "graph/filter_graph.h"

#include <cwchar>

namespace DirectShow {
namespace {

// Hands the filter out with a reference of its own, when the caller asked for it.
HRESULT HandOut(const COM::TPtr<IBaseFilter>& filter, IBaseFilter** out)
{
    return out != nullptr ? filter.CopyTo(out) : S_OK;
}

} // namespace

CFilterGraph::CFilterGraph() : m_registerInTable(false), m_tableCookie(0), m_withoutOwnThread(false) {}

CFilterGraph::~CFilterGraph()
{
    if (IsValid()) {
        StopForRelease();
        if (m_registerInTable)
            RevokeFromTable();
        Release();
    }
}

HRESULT CFilterGraph::Create()
{
    if (IsValid())
        return E_UNEXPECTED;
    const HRESULT hr = ::CoCreateInstance(m_withoutOwnThread ? CLSID_FilterGraphNoThread : CLSID_FilterGraph,
                                          nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                          reinterpret_cast<void**>(&p));
    if (SUCCEEDED(hr) && m_registerInTable)
        RegisterInTable();
    return hr;
}

void CFilterGraph::StopForRelease()
{
    if (IsNull())
        return;
    COM::TPtr<IMediaControl> control;
    if (SUCCEEDED(QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control))) && control.IsValid())
        control->Stop();
    control.Release();
    COM::TPtr<IEnumFilters> filters;
    if (FAILED(p->EnumFilters(&filters)) || filters.IsNull())
        return;
    for (COM::TPtr<IBaseFilter> filter; filters->Next(1, &filter, nullptr) == S_OK && filter.IsValid();) {
        FILTER_STATE state = State_Stopped;
        if (filter->GetState(0, &state) != S_OK || state != State_Stopped)
            filter->Stop();
    }
}

HRESULT CFilterGraph::Free()
{
    if (IsNull())
        return S_FALSE;
    StopForRelease();
    if (m_registerInTable)
        RevokeFromTable();
    Release();
    return S_OK;
}

HRESULT CFilterGraph::RegisterInTable()
{
    if (m_tableCookie != 0 || IsNull())
        return E_UNEXPECTED;
    COM::TPtr<IRunningObjectTable> table;
    HRESULT hr = ::GetRunningObjectTable(0, &table);
    if (FAILED(hr))
        return hr;
    wchar_t name[256];
    std::swprintf(name, sizeof(name) / sizeof(name[0]), L"FilterGraph %08x pid %08x",
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(p)),
                  static_cast<unsigned>(::GetCurrentProcessId()));
    COM::TPtr<IMoniker> moniker;
    hr = ::CreateItemMoniker(L"!", name, &moniker);
    if (FAILED(hr))
        return hr;
    hr = table->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, p, moniker, &m_tableCookie);
    if (hr == MK_S_MONIKERALREADYREGISTERED && ::IsDebuggerPresent())
        ::DebugBreak();
    return hr;
}

HRESULT CFilterGraph::RevokeFromTable()
{
    if (m_tableCookie == 0)
        return S_FALSE;
    COM::TPtr<IRunningObjectTable> table;
    HRESULT hr = ::GetRunningObjectTable(0, &table);
    if (FAILED(hr))
        return hr;
    hr = table->Revoke(m_tableCookie);
    if (SUCCEEDED(hr))
        m_tableCookie = 0;
    return hr;
}

HRESULT CFilterGraph::AddFilter(IBaseFilter* filter, const wchar_t* name)
{
    if (IsNull())
        return E_UNEXPECTED;
    return p->AddFilter(filter, name);
}

HRESULT CFilterGraph::AddFilter(REFCLSID classId, const wchar_t* name, IBaseFilter** filter)
{
    COM::TPtr<IBaseFilter> created;
    HRESULT hr = ::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&created));
    if (SUCCEEDED(hr))
        hr = AddFilter(created, name);
    if (SUCCEEDED(hr))
        hr = HandOut(created, filter);
    return hr;
}

HRESULT CFilterGraph::AddFilter(FilterCreationFunction create, const wchar_t* name, IBaseFilter** filter)
{
    if (create == nullptr || ::IsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(create))))
        return E_POINTER;
    COM::TPtr<IBaseFilter> created;
    HRESULT hr = create(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&created));
    if (SUCCEEDED(hr) && created.IsNull())
        hr = E_UNEXPECTED;
    if (SUCCEEDED(hr))
        hr = AddFilter(created, name);
    if (SUCCEEDED(hr))
        hr = HandOut(created, filter);
    return hr;
}

HRESULT CFilterGraph::AddSourceFilterForMoniker(IMoniker* moniker, const wchar_t* name, IBaseFilter** filter)
{
    COM::TPtr<IFilterGraph2> graph;
    HRESULT hr = QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph));
    if (FAILED(hr))
        return hr;
    COM::TPtr<IBaseFilter> added;
    hr = graph->AddSourceFilterForMoniker(moniker, nullptr, name, &added);
    if (SUCCEEDED(hr))
        hr = HandOut(added, filter);
    return hr;
}

HRESULT CFilterGraph::ConnectDirect(IPin* output, IPin* input)
{
    if (IsNull())
        return E_UNEXPECTED;
    return p->ConnectDirect(output, input, nullptr);
}

HRESULT CFilterGraph::RenderPin(IPin* output, DWORD flags)
{
    COM::TPtr<IFilterGraph2> graph;
    HRESULT hr = QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph));
    if (FAILED(hr))
        return hr;
    return graph->RenderEx(output, flags, nullptr);
}

HRESULT CFilterGraph::FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin)
{
    if (filter == nullptr || pin == nullptr || ::IsBadWritePtr(pin, sizeof(*pin)))
        return E_POINTER;
    *pin = nullptr;
    COM::TPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    if (pins.IsNull())
        return E_UNEXPECTED;
    for (;;) {
        COM::TPtr<IPin> candidate;
        hr = pins->Next(1, &candidate, nullptr);
        if (FAILED(hr))
            return hr;
        if (hr != S_OK || candidate.IsNull())
            return VFW_E_NOT_FOUND;
        PIN_DIRECTION candidateDirection;
        if (SUCCEEDED(candidate->QueryDirection(&candidateDirection)) && candidateDirection == direction)
            return candidate.CopyTo(pin);
    }
}

} // namespace DirectShow
