// Two test filters inside the platform's filter graph manager: joining and leaving the graph,
// a direct connection between their pins, state changes driven by the graph with its own clock,
// and the objects all gone once the graph is released.
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <control.h>
#include <uuids.h>

using namespace StdaxTest;

namespace {

COM::TPtr<IUnknown> IdentityOf(IUnknown* object)
{
    COM::TPtr<IUnknown> identity;
    if (object != nullptr)
        object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    return identity;
}

class FilterGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                           reinterpret_cast<void**>(&m_graph)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_control)));
        m_source = CTestFilter::Create();
        m_sink = CTestFilter::Create();
        ASSERT_NE(nullptr, m_source);
        ASSERT_NE(nullptr, m_sink);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_source->Interface(), L"Source"));
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_sink->Interface(), L"Sink"));
    }
    void TearDown() override
    {
        // The graph holds the filters now: releasing it stops, disconnects and releases them.
        m_source->Interface()->Release();
        m_sink->Interface()->Release();
        m_control.Release();
        m_graph.Release();
        EXPECT_EQ(0, m_live.Leaked());
    }

    FILTER_STATE StateOf(CTestFilter* filter)
    {
        FILTER_STATE state = State_Running;
        EXPECT_EQ(S_OK, filter->Interface()->GetState(0, &state));
        return state;
    }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    COM::TPtr<IFilterGraph> m_graph;
    COM::TPtr<IMediaControl> m_control;
    CTestFilter* m_source = nullptr;
    CTestFilter* m_sink = nullptr;
};

} // namespace

TEST_F(FilterGraphTest, AddFilterJoinsUnderTheNameAndRemoveFilterLeaves)
{
    FILTER_INFO info = {};
    ASSERT_EQ(S_OK, m_source->QueryFilterInfo(&info));
    EXPECT_STREQ(L"Source", info.achName);
    ASSERT_NE(nullptr, info.pGraph);
    EXPECT_EQ(IdentityOf(m_graph).p, IdentityOf(info.pGraph).p);
    info.pGraph->Release();
    EXPECT_NE(nullptr, m_source->EventSink());

    // The graph finds the filter by the name it keeps.
    COM::TPtr<IBaseFilter> found;
    COM::TPtr<IGraphBuilder> builder;
    ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IGraphBuilder, reinterpret_cast<void**>(&builder)));
    EXPECT_EQ(S_OK, builder->FindFilterByName(L"Sink", &found));
    EXPECT_EQ(m_sink->Interface(), found.p);
    found.Release();

    // A second filter under a taken name gets a name of its own from the graph.
    CTestFilter* const third = CTestFilter::Create();
    ASSERT_NE(nullptr, third);
    EXPECT_TRUE(SUCCEEDED(m_graph->AddFilter(third->Interface(), L"Source")));
    ASSERT_EQ(S_OK, third->QueryFilterInfo(&info));
    EXPECT_STRNE(L"Source", info.achName);
    if (info.pGraph != nullptr)
        info.pGraph->Release();
    EXPECT_EQ(S_OK, m_graph->RemoveFilter(third->Interface()));
    EXPECT_EQ(0u, third->Interface()->Release());

    EXPECT_EQ(S_OK, m_graph->RemoveFilter(m_source->Interface()));
    ASSERT_EQ(S_OK, m_source->QueryFilterInfo(&info));
    EXPECT_STREQ(L"", info.achName);
    EXPECT_EQ(nullptr, info.pGraph);
    EXPECT_EQ(nullptr, m_source->Graph());
    EXPECT_EQ(nullptr, m_source->EventSink());
}

TEST_F(FilterGraphTest, ConnectDirectLinksTheTwoPinsAndTheGraphDrivesTheirStates)
{
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_source->Output()->PinInterface(), m_sink->Input()->PinInterface(), nullptr));
    EXPECT_EQ(m_sink->Input()->PinInterface(), m_source->Output()->GetConnected());
    EXPECT_EQ(m_source->Output()->PinInterface(), m_sink->Input()->GetConnected());
    EXPECT_FALSE(m_source->Input()->IsConnected());
    AM_MEDIA_TYPE agreed;
    ASSERT_EQ(S_OK, m_sink->Input()->ConnectionMediaType(&agreed));
    EXPECT_EQ(MEDIASUBTYPE_PCM, agreed.subtype) << "the sink's first offer";
    EXPECT_EQ(44100u, SampleRateOf(agreed));
    stdax::FreeMediaTypeContents(&agreed);

    EXPECT_EQ(VFW_E_ALREADY_CONNECTED,
              m_graph->ConnectDirect(m_source->Output()->PinInterface(), m_sink->Input()->PinInterface(), nullptr));

    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    EXPECT_EQ(State_Running, StateOf(m_source));
    EXPECT_EQ(State_Running, StateOf(m_sink));
    EXPECT_EQ(1, m_source->Output()->m_active);
    EXPECT_EQ(1, m_source->Output()->m_run);
    EXPECT_EQ(1, m_sink->Input()->m_run);
    EXPECT_EQ(0, m_source->Input()->m_active) << "an unconnected pin takes no part";

    // The graph gave its clock; stream time runs from the start time it chose.
    COM::TPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, m_source->GetSyncSource(&clock));
    EXPECT_NE(nullptr, clock.p);
    REFERENCE_TIME streamTime = 0;
    // (The platform's clock answers S_FALSE when the time has not moved since its last answer.)
    EXPECT_TRUE(SUCCEEDED(m_source->StreamTime(&streamTime)));

    // Connections change only in a stopped graph.
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_graph->Disconnect(m_sink->Input()->PinInterface()));
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_sink->Output()->Connect(m_source->Input()->PinInterface(), nullptr));

    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    EXPECT_EQ(State_Paused, StateOf(m_source));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    EXPECT_EQ(State_Stopped, StateOf(m_source));
    EXPECT_EQ(State_Stopped, StateOf(m_sink));
    EXPECT_EQ(1, m_source->Output()->m_inactive);
    EXPECT_EQ(1, m_sink->Input()->m_inactive);

    EXPECT_EQ(S_OK, m_graph->Disconnect(m_sink->Input()->PinInterface()));
    EXPECT_EQ(S_OK, m_graph->Disconnect(m_source->Output()->PinInterface()));
    EXPECT_FALSE(m_source->Output()->IsConnected());
    EXPECT_FALSE(m_sink->Input()->IsConnected());
}

TEST_F(FilterGraphTest, RemovingAConnectedFilterDisconnectsBothSides)
{
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_source->Output()->PinInterface(), m_sink->Input()->PinInterface(), nullptr));
    EXPECT_EQ(S_OK, m_graph->RemoveFilter(m_sink->Interface()));
    EXPECT_FALSE(m_source->Output()->IsConnected());
    EXPECT_FALSE(m_sink->Input()->IsConnected());
    EXPECT_EQ(nullptr, m_sink->Graph());
}

TEST_F(FilterGraphTest, AConnectedGraphReleasedWhileRunningLeavesNothingBehind)
{
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_source->Output()->PinInterface(), m_sink->Input()->PinInterface(), nullptr));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    // TearDown releases the graph with the filters running and connected.
}
