#include "graph/filter_graph_playback.h"

#include <objbase.h>
#include <uuids.h>

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

HRESULT CFilterGraph_Playback::Init(const wchar_t* path, int number)
{
    HRESULT hr = S_OK;
    CTraceScope scope(s_MainLog, "CFilterGraph_Playback::Init");
    scope.Begin(&hr, L"%d, \"%ls\"", number, path != nullptr ? path : L"");
    Synchronization::CAutoLock lock(&m_lock);

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
            return RenderPin(output);
        });

    // The graph keeps its own references to what it holds.
    output.Release();
    fileSource.Release();
    source.Release();
    com.Uninitialise();
    return hr;
}
