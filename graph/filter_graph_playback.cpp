#include "graph/filter_graph_playback.h"

#include <objbase.h>
#include <uuids.h>

#include "graph/device_utilities.h"
#include "graph/filter_enumerator.h"
#include "support/com_init.h"
#include "support/library_logs.h"
#include "support/step_sequence.h"
#include "support/trace_log.h"

CFilterGraph_Playback::CFilterGraph_Playback()
{
    CTraceScope scope(s_MainLog, "CFilterGraph_Playback::CFilterGraph_Playback");
    scope.BeginNoResult();
}

CFilterGraph_Playback::~CFilterGraph_Playback()
{
    CTraceScope scope(s_MainLog, "CFilterGraph_Playback::~CFilterGraph_Playback");
    scope.BeginNoResult();
}

HRESULT CFilterGraph_Playback::Init(const wchar_t* path, int number, const wchar_t* rendererId)
{
    HRESULT hr = S_OK;
    CTraceScope scope(s_MainLog, "CFilterGraph_Playback::Init");
    if (rendererId != nullptr)
        scope.Begin(&hr, L"%d, \"%ls\", \"%ls\"", number, path != nullptr ? path : L"", rendererId);
    else
        scope.Begin(&hr, L"%d, \"%ls\"", number, path != nullptr ? path : L"");
    Synchronization::CAutoLock lock(&m_lock);
    m_transport.Reset();

    CComInit com;
    COM::TPtr<IBaseFilter> source;
    COM::TPtr<IFileSourceFilter> fileSource;
    COM::TPtr<IPin> output;
    CStepSequence steps(hr);
    steps.Do([&] {
            s_MainLog.Print(L"init COM…");
            return com.Initialise();
        })
        .Do([&] {
            s_MainLog.Print(L"init filter graph…");
            return Create();
        })
        .Do([&] {
            // The chosen renderer joins the graph first, so that rendering the source ends in it.
            if (rendererId == nullptr)
                return S_OK;
            s_MainLog.Print(L"insert chosen AudioRenderer \"%ls\"…", rendererId);
            return InsertRenderer(rendererId);
        })
        .Do([&] {
            s_MainLog.Print(L"insert FileSource(URL)…");
            return AddFilter(CLSID_URLReader, path, &source);
        })
        .Do([&] {
            s_MainLog.Print(L"query FileSource for IFileSourceFilter…");
            return source.QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&fileSource));
        })
        .Do([&] {
            s_MainLog.Print(L"load file…");
            return fileSource->Load(path, nullptr);
        })
        .Do([&] {
            s_MainLog.Print(L"find FileSource output…");
            return FindPinByDirection(source, PINDIR_OUTPUT, &output);
        })
        .Do([&] {
            s_MainLog.Print(L"render FileSource output…");
            return RenderPin(output, rendererId != nullptr ? AM_RENDEREX_RENDERTOEXISTINGRENDERERS : 0);
        });

    // The graph keeps its own references to what it holds.
    output.Release();
    fileSource.Release();
    source.Release();
    com.Uninitialise();
    return hr;
}

HRESULT CFilterGraph_Playback::InsertRenderer(const wchar_t* rendererId)
{
    DirectShow::CFilterEnumerator renderers;
    LONG index = -1;
    COM::TPtr<IMoniker> moniker;
    wchar_t* name = nullptr;
    COM::TPtr<IBaseFilter> renderer;
    HRESULT hr = S_OK;
    CStepSequence(hr)
        .Do([&] { return renderers.EnumerateCategory(0, CLSID_AudioRendererCategory); })
        .Do([&] { return renderers.FindById(rendererId, &index); })
        .Do([&] { return renderers.GetItem(static_cast<ULONG>(index), &moniker); })
        .Do([&] { return DirectShow::GetFriendlyName(moniker, &name); })
        .Do([&] {
            return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&renderer));
        })
        .Do([&] { return AddFilter(renderer, name); });
    ::CoTaskMemFree(name);
    renderer.Release();
    moniker.Release();
    // The enumerator's COM initialisation is undone on this thread, inside Init's own.
    const HRESULT freed = renderers.Free();
    return SUCCEEDED(hr) && FAILED(freed) ? freed : hr;
}
