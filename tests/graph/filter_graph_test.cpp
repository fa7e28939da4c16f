// The filter graph wrapper against Wine's graph manager: its held/empty states, publishing in the
// running object table, adding filters and finding pins.
#include "graph/filter_graph.h"
#include "graph_test_support.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

using GraphTest::CComThread;

// A graph object with publishing (and optionally the manager without its own thread) switched on.
class CPublishedGraph : public DirectShow::CFilterGraph {
public:
    explicit CPublishedGraph(bool withoutOwnThread)
    {
        m_registerInTable = true;
        m_withoutOwnThread = withoutOwnThread;
    }
    DWORD Cookie() const { return m_tableCookie; }
};

// The item moniker under which a graph is published.
COM::TPtr<IMoniker> TableMoniker(IFilterGraph* graph)
{
    wchar_t name[256];
    std::swprintf(name, 256, L"FilterGraph %08x pid %08x", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(graph)),
                  static_cast<unsigned>(::GetCurrentProcessId()));
    COM::TPtr<IMoniker> moniker;
    EXPECT_EQ(::CreateItemMoniker(L"!", name, &moniker), S_OK);
    return moniker;
}

HRESULT CreateAsyncReader(IUnknown* outer, REFIID riid, void** ppv)
{
    return ::CoCreateInstance(CLSID_AsyncReader, outer, CLSCTX_INPROC_SERVER, riid, ppv);
}

TEST(FilterGraph, CreateTwiceThenFreeTwice)
{
    CComThread com;
    DirectShow::CFilterGraph graph;
    EXPECT_TRUE(graph.IsNull());
    ASSERT_EQ(graph.Create(), S_OK);
    IFilterGraph* const first = graph.p;
    EXPECT_EQ(graph.Create(), E_UNEXPECTED);
    EXPECT_EQ(graph.p, first);  // the first graph stays held
    EXPECT_EQ(graph.Free(), S_OK);
    EXPECT_TRUE(graph.IsNull());
    EXPECT_EQ(graph.Free(), S_FALSE);
    // Free empties the object for the next build.
    EXPECT_EQ(graph.Create(), S_OK);
}

TEST(FilterGraph, PublishedInTheRunningObjectTableWhileHeld)
{
    CComThread com;
    for (bool withoutOwnThread : {false, true}) {
        CPublishedGraph graph(withoutOwnThread);
        ASSERT_EQ(graph.Create(), S_OK);
        EXPECT_NE(graph.Cookie(), 0u);
        COM::TPtr<IRunningObjectTable> table;
        ASSERT_EQ(::GetRunningObjectTable(0, &table), S_OK);
        COM::TPtr<IMoniker> moniker = TableMoniker(graph.p);
        EXPECT_EQ(table->IsRunning(moniker), S_OK);
        COM::TPtr<IUnknown> published;
        ASSERT_EQ(table->GetObject(moniker, &published), S_OK);
        COM::TPtr<IUnknown> identity;
        graph.QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        EXPECT_EQ(published.p, identity.p);
        published.Release();
        identity.Release();

        EXPECT_EQ(graph.Free(), S_OK);
        EXPECT_EQ(graph.Cookie(), 0u);
        EXPECT_EQ(table->IsRunning(moniker), S_FALSE);
    }
}

TEST(FilterGraph, AddingFiltersNeedsAGraph)
{
    CComThread com;
    DirectShow::CFilterGraph graph;
    COM::TPtr<IBaseFilter> filter;
    EXPECT_EQ(graph.AddFilter(CLSID_AsyncReader, L"Reader", &filter), E_UNEXPECTED);
    EXPECT_TRUE(filter.IsNull());
    EXPECT_EQ(graph.AddFilter(&CreateAsyncReader, L"Reader", &filter), E_UNEXPECTED);
    EXPECT_EQ(graph.ConnectDirect(nullptr, nullptr), E_UNEXPECTED);
    EXPECT_EQ(graph.RenderPin(nullptr), E_UNEXPECTED);
    EXPECT_EQ(graph.AddFilter(static_cast<DirectShow::FilterCreationFunction>(nullptr), L"x", nullptr), E_POINTER);

    ASSERT_EQ(graph.Create(), S_OK);
    ASSERT_EQ(graph.AddFilter(&CreateAsyncReader, L"By creator", &filter), S_OK);
    ASSERT_EQ(graph.AddFilter(CLSID_AsyncReader, L"By class", nullptr), S_OK);
    COM::TPtr<IBaseFilter> found;
    ASSERT_EQ(graph->FindFilterByName(L"By creator", &found), S_OK);
    EXPECT_EQ(found.p, filter.p);
    found.Release();
    EXPECT_EQ(graph->FindFilterByName(L"By class", &found), S_OK);
}

TEST(FilterGraph, FindPinByDirection)
{
    CComThread com;
    DirectShow::CFilterGraph graph;
    ASSERT_EQ(graph.Create(), S_OK);
    COM::TPtr<IBaseFilter> writer;  // one input pin, no output
    ASSERT_EQ(graph.AddFilter(CLSID_FileWriter, L"Writer", &writer), S_OK);

    IPin* pin = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(DirectShow::CFilterGraph::FindPinByDirection(writer, PINDIR_OUTPUT, &pin), VFW_E_NOT_FOUND);
    EXPECT_EQ(pin, nullptr);
    COM::TPtr<IPin> input;
    ASSERT_EQ(DirectShow::CFilterGraph::FindPinByDirection(writer, PINDIR_INPUT, &input), S_OK);
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    EXPECT_EQ(input->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_INPUT);

    EXPECT_EQ(DirectShow::CFilterGraph::FindPinByDirection(nullptr, PINDIR_INPUT, &pin), E_POINTER);
    EXPECT_EQ(DirectShow::CFilterGraph::FindPinByDirection(writer, PINDIR_INPUT, nullptr), E_POINTER);
    EXPECT_EQ(DirectShow::CFilterGraph::FindPinByDirection(writer, PINDIR_INPUT, reinterpret_cast<IPin**>(8)),
              E_POINTER);
}

} // namespace
