// The base filter on its own: construction checks, interfaces, states and the pins' part in them,
// the clock, pin lookup, names and graph membership.
#include "stdax/base_filter.h"
#include "stdax/com/ptr.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <strsafe.h>
#include <uuids.h>

#include <string>
#include <vector>

using namespace StdaxTest;

namespace {

class BaseFilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_filter = CTestFilter::Create();
        ASSERT_NE(nullptr, m_filter);
    }
    void TearDown() override
    {
        if (m_filter != nullptr) {
            EXPECT_EQ(0u, m_filter->Interface()->Release());
        }
        EXPECT_EQ(0, m_live.Leaked());
    }

    // Connects the test filter's output to a second test filter's input without a graph.
    CTestFilter* ConnectToSecondFilter()
    {
        CTestFilter* const peer = CTestFilter::Create();
        EXPECT_EQ(S_OK, m_filter->Output()->Connect(peer->Input(), nullptr));
        return peer;
    }
    void DisconnectAndRelease(CTestFilter* peer)
    {
        EXPECT_EQ(S_OK, m_filter->Output()->Disconnect());
        EXPECT_EQ(S_OK, peer->Input()->Disconnect());
        EXPECT_EQ(0u, peer->Interface()->Release());
    }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    CTestFilter* m_filter = nullptr;
};

const AMOVIESETUP_PIN kOnePin = {const_cast<LPWSTR>(L"In"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, kPcmOnly};

// A base filter over a given setup record, for the construction checks.
class CBareFilter : public stdax::CBaseFilter {
public:
    CBareFilter(const AMOVIESETUP_FILTER* setup, HRESULT* result) : CBaseFilter(setup, nullptr, nullptr, result) {}
    int GetPinCount() override { return 0; }
    stdax::CBasePin* GetPin(int) override { return nullptr; }
    HRESULT STDMETHODCALLTYPE Stop() override { return S_OK; }
};

HRESULT ConstructWith(const AMOVIESETUP_FILTER& setup, HRESULT incoming = S_OK)
{
    HRESULT hr = incoming;
    CBareFilter filter(&setup, &hr);
    return hr;
}

} // namespace

TEST(BaseFilterConstruction, ChecksTheSetupRecordUnlessAlreadyFailed)
{
    CLiveObjectCheck live;
    const CLSID clsid = CLSID_TestFilter;
    EXPECT_EQ(S_OK, ConstructWith({&clsid, L"name", 0, 1, &kOnePin}));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, ConstructWith({nullptr, L"name", 0, 1, &kOnePin}));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, ConstructWith({&clsid, nullptr, 0, 1, &kOnePin}));
    EXPECT_EQ(E_INVALIDARG, ConstructWith({&clsid, L"name", 0, 0, &kOnePin}));
    EXPECT_EQ(E_POINTER, ConstructWith({&clsid, L"name", 0, 1, nullptr}));
    EXPECT_EQ(E_POINTER, ConstructWith({&clsid, L"name", 0, 0x100000, &kOnePin}));
    EXPECT_EQ(E_ABORT, ConstructWith({nullptr, nullptr, 0, 0, nullptr}, E_ABORT));

    // A filter built from a refused record has no class identifier to report.
    HRESULT hr = S_OK;
    CBareFilter refused(nullptr, &hr);
    EXPECT_EQ(E_POINTER, hr);
    CLSID reported = {};
    EXPECT_EQ(E_UNEXPECTED, refused.GetClassID(&reported));
    EXPECT_EQ(1, live.Leaked()) << "only the filter still on the stack is alive";
}

TEST_F(BaseFilterTest, PauseWithoutConnectedPinsCallsNoPin)
{
    FILTER_STATE state = State_Running;
    EXPECT_EQ(S_OK, m_filter->GetState(0, &state));
    EXPECT_EQ(State_Stopped, state);
    EXPECT_EQ(E_POINTER, m_filter->GetState(0, nullptr));

    EXPECT_EQ(S_OK, m_filter->Interface()->Pause());
    EXPECT_EQ(S_OK, m_filter->GetState(INFINITE, &state));
    EXPECT_EQ(State_Paused, state);
    EXPECT_EQ(0, m_filter->Input()->m_active + m_filter->Output()->m_active);
    EXPECT_EQ(S_OK, m_filter->Interface()->Stop());
}

TEST_F(BaseFilterTest, RunFromStoppedActivatesConnectedPinsThroughTheDerivedPauseThenRunsThem)
{
    CTestFilter* const peer = ConnectToSecondFilter();
    m_filter->m_calls.clear();

    EXPECT_EQ(S_OK, m_filter->Interface()->Run(1234));
    const std::vector<std::wstring> expected = {L"Pause", L"Out.Active", L"Out.Run"};
    EXPECT_EQ(expected, m_filter->m_calls) << "the unconnected input pin is left alone";
    EXPECT_EQ(1234, m_filter->Output()->m_runStart);
    EXPECT_EQ(State_Running, m_filter->State());

    // Running again only replaces the start time.
    EXPECT_EQ(S_OK, m_filter->Interface()->Run(5678));
    EXPECT_EQ(1, m_filter->Output()->m_run);
    EXPECT_EQ(5678, m_filter->StartTime());

    // Pausing a running filter tells no pin; running it again runs the pins once more.
    EXPECT_EQ(S_OK, m_filter->Interface()->Pause());
    EXPECT_EQ(1, m_filter->Output()->m_active);
    EXPECT_EQ(S_OK, m_filter->Interface()->Run(9));
    EXPECT_EQ(2, m_filter->Output()->m_run);

    EXPECT_EQ(S_OK, m_filter->Interface()->Stop());
    DisconnectAndRelease(peer);
}

TEST_F(BaseFilterTest, APinThatFailsToActivateLeavesTheFilterStopped)
{
    CTestFilter* const peer = ConnectToSecondFilter();
    m_filter->Output()->m_activeResult = E_OUTOFMEMORY;

    EXPECT_EQ(E_OUTOFMEMORY, m_filter->Interface()->Pause());
    EXPECT_EQ(State_Stopped, m_filter->State());
    EXPECT_EQ(E_OUTOFMEMORY, m_filter->Interface()->Run(0));
    EXPECT_EQ(State_Stopped, m_filter->State());
    EXPECT_EQ(0, m_filter->Output()->m_run);

    // A success code of the pin is passed on.
    m_filter->Output()->m_activeResult = S_FALSE;
    EXPECT_EQ(S_FALSE, m_filter->Interface()->Pause());
    EXPECT_EQ(State_Paused, m_filter->State());

    EXPECT_EQ(S_OK, m_filter->Interface()->Stop());
    DisconnectAndRelease(peer);
}

TEST_F(BaseFilterTest, StreamTimeIsClockTimeSinceTheLastRun)
{
    REFERENCE_TIME now = 0;
    EXPECT_EQ(VFW_E_NO_CLOCK, m_filter->StreamTime(&now));

    CFixedClock clock;
    EXPECT_EQ(S_OK, m_filter->SetSyncSource(&clock));
    EXPECT_EQ(2, clock.m_references);
    EXPECT_EQ(S_OK, m_filter->SetSyncSource(&clock));
    EXPECT_EQ(2, clock.m_references) << "the same clock again adds no reference";

    COM::TPtr<IReferenceClock> held;
    EXPECT_EQ(S_OK, m_filter->GetSyncSource(&held));
    EXPECT_EQ(&clock, held.p);
    held.Release();
    EXPECT_EQ(E_POINTER, m_filter->GetSyncSource(nullptr));

    EXPECT_EQ(S_OK, m_filter->Interface()->Run(1000));
    clock.m_time = 5000;
    EXPECT_EQ(S_OK, m_filter->StreamTime(&now));
    EXPECT_EQ(4000, now);
    clock.m_result = E_FAIL;
    now = 77;
    EXPECT_EQ(E_FAIL, m_filter->StreamTime(&now));
    EXPECT_EQ(77, now);
    EXPECT_EQ(S_OK, m_filter->Interface()->Stop());

    EXPECT_EQ(S_OK, m_filter->SetSyncSource(nullptr));
    EXPECT_EQ(1, clock.m_references);
    IReferenceClock* none = &clock;
    EXPECT_EQ(S_OK, m_filter->GetSyncSource(&none));
    EXPECT_EQ(nullptr, none);
}

TEST_F(BaseFilterTest, FindPinByCaseSensitiveName)
{
    COM::TPtr<IPin> pin;
    EXPECT_EQ(S_OK, m_filter->FindPin(L"Out", &pin));
    EXPECT_EQ(m_filter->Output()->PinInterface(), pin.p);
    pin.Release();

    IPin* none = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_FOUND, m_filter->FindPin(L"out", &none));
    EXPECT_EQ(nullptr, none);
    none = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_FOUND, m_filter->FindPin(nullptr, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_POINTER, m_filter->FindPin(L"In", nullptr));

    // A pin the filter cannot give is passed over.
    m_filter->m_nullPinIndex = 0;
    EXPECT_EQ(VFW_E_NOT_FOUND, m_filter->FindPin(L"In", &pin));
}

TEST_F(BaseFilterTest, JoinFilterGraphKeepsTheNameCutToItsBuffer)
{
    FILTER_INFO info = {};
    EXPECT_EQ(S_OK, m_filter->QueryFilterInfo(&info));
    EXPECT_STREQ(L"", info.achName);
    EXPECT_EQ(nullptr, info.pGraph);
    EXPECT_EQ(E_POINTER, m_filter->QueryFilterInfo(nullptr));

    const std::wstring longName(200, L'n');
    EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, m_filter->JoinFilterGraph(nullptr, longName.c_str()));
    EXPECT_EQ(S_OK, m_filter->QueryFilterInfo(&info));
    EXPECT_EQ(std::wstring(127, L'n'), info.achName);

    EXPECT_EQ(S_OK, m_filter->JoinFilterGraph(nullptr, nullptr));
    EXPECT_EQ(S_OK, m_filter->QueryFilterInfo(&info));
    EXPECT_STREQ(L"", info.achName);

    // Unusable arguments are refused before anything changes.
    EXPECT_EQ(S_OK, m_filter->JoinFilterGraph(nullptr, L"kept"));
    const auto* const unreadable = reinterpret_cast<const WCHAR*>(static_cast<UINT_PTR>(0x10));
    EXPECT_EQ(E_POINTER, m_filter->JoinFilterGraph(nullptr, unreadable));
    EXPECT_EQ(E_POINTER, m_filter->JoinFilterGraph(reinterpret_cast<IFilterGraph*>(static_cast<UINT_PTR>(0x10)), L"x"));
    EXPECT_EQ(E_POINTER, m_filter->SetSyncSource(reinterpret_cast<IReferenceClock*>(static_cast<UINT_PTR>(0x10))));
    EXPECT_EQ(S_OK, m_filter->QueryFilterInfo(&info));
    EXPECT_STREQ(L"kept", info.achName);
}
