// The base pin between two test filters, without a graph: construction, pin information, the
// connection protocol with its media type agreement, refusals and disconnection.
#include "stdax/base_pin.h"
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <strsafe.h>
#include <uuids.h>

#include <cstring>

#include <vector>

using namespace StdaxTest;

namespace {

class BasePinTest : public ::testing::Test {
protected:
    void Build(const CTestFilterTypes& upstreamTypes, const CTestFilterTypes& downstreamTypes)
    {
        ReleaseFilters();
        m_up = CTestFilter::Create(upstreamTypes);
        m_down = CTestFilter::Create(downstreamTypes);
        ASSERT_NE(nullptr, m_up);
        ASSERT_NE(nullptr, m_down);
    }
    void SetUp() override { Build(CTestFilterTypes(), CTestFilterTypes()); }
    void TearDown() override
    {
        ReleaseFilters();
        EXPECT_EQ(0, m_live.Leaked());
    }
    void ReleaseFilters()
    {
        for (CTestFilter* filter : {m_up, m_down}) {
            if (filter == nullptr)
                continue;
            filter->Interface()->Stop();
            for (CTestPin* pin : {filter->Input(), filter->Output()}) {
                pin->m_breakConnectResult = S_OK;
                pin->Disconnect();
            }
        }
        for (CTestFilter** filter : {&m_up, &m_down}) {
            if (*filter != nullptr) {
                EXPECT_EQ(0u, (*filter)->Interface()->Release());
            }
            *filter = nullptr;
        }
    }

    CTestPin* Out() const { return m_up->Output(); }
    CTestPin* In() const { return m_down->Input(); }

    GUID ConnectedSubtype(CTestPin* pin)
    {
        AM_MEDIA_TYPE mt;
        EXPECT_EQ(S_OK, pin->ConnectionMediaType(&mt));
        const GUID subtype = mt.subtype;
        stdax::FreeMediaTypeContents(&mt);
        return subtype;
    }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    CTestFilter* m_up = nullptr;
    CTestFilter* m_down = nullptr;
};

// A peer's media type enumerator that hands out one record (holding a reference on unknown) in
// its first Next and says it fetched none, then has nothing more.
class CMiscountingTypes : public IEnumMediaTypes {
public:
    explicit CMiscountingTypes(IUnknown* unknown) : m_unknown(unknown) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Next(ULONG, AM_MEDIA_TYPE** types, ULONG* fetched) override
    {
        if (m_handedOut)
            return S_FALSE;
        m_handedOut = true;
        types[0] = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        MakeAudioType(types[0], MEDIASUBTYPE_PCM, 8000);
        m_unknown->AddRef();
        types[0]->pUnk = m_unknown;
        *fetched = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes**) override { return E_NOTIMPL; }

    IUnknown* const m_unknown;
    bool m_handedOut = false;
};

// A pin of a test filter with a record given by the test, for the construction checks.
HRESULT ConstructPin(CTestFilter* filter, const AMOVIESETUP_PIN& record, LPCWSTR name = nullptr, HRESULT incoming = S_OK)
{
    HRESULT hr = incoming;
    CTestPin pin(filter, &record, name, &hr);
    return hr;
}

} // namespace

TEST(BasePinConstruction, ChecksFilterLockAndRecordInOrder)
{
    CComApartment com;
    CLiveObjectCheck live;
    CTestFilter* const filter = CTestFilter::Create();
    ASSERT_NE(nullptr, filter);
    const AMOVIESETUP_PIN good = {const_cast<LPWSTR>(L"P"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, kPcmOnly};
    AMOVIESETUP_PIN record = good;

    EXPECT_EQ(S_OK, ConstructPin(filter, record));
    EXPECT_EQ(E_POINTER, ConstructPin(nullptr, record)) << "no filter (and so no lock either)";
    record.strName = nullptr;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, ConstructPin(filter, record));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, ConstructPin(filter, record, L"named")) << "the record's name is still needed";
    record = good;
    record.nMediaTypes = 0;
    EXPECT_EQ(VFW_E_NO_TYPES, ConstructPin(filter, record));
    record = good;
    record.lpMediaType = nullptr;
    EXPECT_EQ(E_POINTER, ConstructPin(filter, record));
    record = good;
    record.nMediaTypes = 0x1000000;
    EXPECT_EQ(E_POINTER, ConstructPin(filter, record));
    EXPECT_EQ(E_ABORT, ConstructPin(nullptr, {}, nullptr, E_ABORT));

    const std::wstring longName(200, L'p');
    EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, ConstructPin(filter, good, longName.c_str()));

    EXPECT_EQ(0u, filter->Interface()->Release());
    EXPECT_EQ(0, live.Leaked());
}

TEST_F(BasePinTest, PinInformationDirectionAndId)
{
    PIN_INFO info = {};
    ASSERT_EQ(S_OK, Out()->QueryPinInfo(&info));
    EXPECT_EQ(m_up->Interface(), info.pFilter);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_STREQ(L"Out", info.achName);
    info.pFilter->Release();
    EXPECT_EQ(E_POINTER, Out()->QueryPinInfo(nullptr));

    PIN_DIRECTION direction = PINDIR_OUTPUT;
    EXPECT_EQ(S_OK, In()->QueryDirection(&direction));
    EXPECT_EQ(PINDIR_INPUT, direction);
    EXPECT_EQ(E_POINTER, In()->QueryDirection(nullptr));

    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, In()->QueryId(&id));
    EXPECT_STREQ(L"In", id);
    ::CoTaskMemFree(id);
    EXPECT_EQ(E_POINTER, In()->QueryId(nullptr));

    IPin** none = nullptr;
    ULONG count = 0;
    EXPECT_EQ(E_NOTIMPL, In()->QueryInternalConnections(none, &count));
}

TEST_F(BasePinTest, ReferencesAndInterfacesBelongToTheFilter)
{
    IPin* const pin = Out()->PinInterface();
    EXPECT_EQ(2u, pin->AddRef()) << "the pin counts on its filter";
    EXPECT_EQ(1u, m_up->Interface()->Release());

    COM::TPtr<IQualityControl> quality;
    EXPECT_EQ(S_OK, pin->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&quality)));
    COM::TPtr<IUnknown> identity;
    EXPECT_EQ(S_OK, quality->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    COM::TPtr<IPin> back;
    EXPECT_EQ(S_OK, identity->QueryInterface(IID_IPin, reinterpret_cast<void**>(&back)));
    EXPECT_EQ(pin, back.p);
    void* other = nullptr;
    EXPECT_EQ(E_NOINTERFACE, pin->QueryInterface(IID_IBaseFilter, &other));

    // The quality sink is kept without a reference; an unreadable one is refused.
    EXPECT_EQ(S_OK, quality->SetSink(quality.p));
    EXPECT_EQ(quality.p, Out()->QualitySink());
    EXPECT_EQ(E_POINTER, quality->SetSink(reinterpret_cast<IQualityControl*>(static_cast<UINT_PTR>(0x10))));
    EXPECT_EQ(S_OK, quality->SetSink(nullptr));
}

TEST_F(BasePinTest, UnconnectedPinReportsAnInitialisedTypeAndNoPeer)
{
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0xCD, sizeof(mt));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, In()->ConnectionMediaType(&mt));
    EXPECT_EQ(TRUE, mt.bFixedSizeSamples);
    EXPECT_EQ(1u, mt.lSampleSize);
    EXPECT_EQ(GUID_NULL, mt.majortype);
    EXPECT_EQ(E_POINTER, In()->ConnectionMediaType(nullptr));

    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, In()->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer);
    EXPECT_EQ(E_POINTER, In()->ConnectedTo(nullptr));
    EXPECT_EQ(S_FALSE, In()->Disconnect());
}

TEST_F(BasePinTest, QueryAcceptAndOfferedTypes)
{
    AM_MEDIA_TYPE pcm;
    MakeAudioType(&pcm, MEDIASUBTYPE_PCM, 8000);
    AM_MEDIA_TYPE video = pcm;
    video.majortype = MEDIATYPE_Video;
    EXPECT_EQ(S_OK, In()->QueryAccept(&pcm));
    EXPECT_EQ(S_FALSE, In()->QueryAccept(&video)) << "a refusal with an error becomes S_FALSE";
    In()->m_refusedSubtypes = {MEDIASUBTYPE_PCM};
    In()->m_refusal = S_FALSE;
    EXPECT_EQ(S_FALSE, In()->QueryAccept(&pcm));
    EXPECT_EQ(E_POINTER, In()->QueryAccept(nullptr));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, In()->CBasePin::CheckMediaType(&video));
    EXPECT_EQ(E_POINTER, In()->CBasePin::CheckMediaType(nullptr));
    stdax::FreeMediaTypeContents(&pcm);

    AM_MEDIA_TYPE offered;
    stdax::InitializeMediaType(&offered);
    EXPECT_EQ(S_OK, Out()->GetMediaType(1, &offered));
    EXPECT_EQ(MEDIASUBTYPE_IEEE_FLOAT, offered.subtype);
    EXPECT_EQ(44100u, SampleRateOf(offered)) << "completed by OnGetMediaType";
    stdax::FreeMediaTypeContents(&offered);
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, Out()->GetMediaType(2, &offered));
    EXPECT_EQ(E_INVALIDARG, Out()->GetMediaType(-1, &offered));
    EXPECT_EQ(E_POINTER, Out()->GetMediaType(0, nullptr));
}

TEST_F(BasePinTest, AgreementTriesThePeersTypesFirst)
{
    Build({kPcmThenFloat, 2, kPcmThenFloat, 2}, {kFloatThenPcm, 2, kFloatThenPcm, 2});
    ASSERT_EQ(S_OK, Out()->Connect(In()->PinInterface(), nullptr));
    EXPECT_EQ(MEDIASUBTYPE_IEEE_FLOAT, ConnectedSubtype(Out()));
    EXPECT_EQ(MEDIASUBTYPE_IEEE_FLOAT, ConnectedSubtype(In()));
    EXPECT_EQ(1, Out()->m_completeConnect);
    EXPECT_EQ(1, In()->m_completeConnect);

    COM::TPtr<IPin> peer;
    EXPECT_EQ(S_OK, Out()->ConnectedTo(&peer));
    EXPECT_EQ(In()->PinInterface(), peer.p);
    EXPECT_EQ(S_OK, In()->ConnectedTo(&peer));
    EXPECT_EQ(Out()->PinInterface(), peer.p);
}

TEST_F(BasePinTest, AgreementWithMyTypesFirstAndPeerRefusals)
{
    Build({kPcmThenFloat, 2, kPcmThenFloat, 2}, {kFloatThenPcm, 2, kFloatThenPcm, 2});
    Out()->SetTryMyTypesFirst(true);
    ASSERT_EQ(S_OK, Out()->Connect(In()->PinInterface(), nullptr));
    EXPECT_EQ(MEDIASUBTYPE_PCM, ConnectedSubtype(In()));
    EXPECT_EQ(S_OK, Out()->Disconnect());
    EXPECT_EQ(S_OK, In()->Disconnect());

    // The peer refuses float: its first offer fails, its second (PCM) is taken.
    Out()->SetTryMyTypesFirst(false);
    Out()->m_checkedSubtypes.clear();
    In()->m_refusedSubtypes = {MEDIASUBTYPE_IEEE_FLOAT};
    ASSERT_EQ(S_OK, Out()->Connect(In()->PinInterface(), nullptr));
    const std::vector<GUID> tried = {MEDIASUBTYPE_IEEE_FLOAT, MEDIASUBTYPE_PCM};
    EXPECT_EQ(tried, Out()->m_checkedSubtypes);
    EXPECT_EQ(MEDIASUBTYPE_PCM, ConnectedSubtype(Out()));
}

TEST_F(BasePinTest, AFullySpecifiedTypeIsTheOnlyOneTried)
{
    AM_MEDIA_TYPE pcm;
    MakeAudioType(&pcm, MEDIASUBTYPE_PCM, 11025);
    ASSERT_EQ(S_OK, Out()->Connect(In()->PinInterface(), &pcm));
    AM_MEDIA_TYPE agreed;
    ASSERT_EQ(S_OK, In()->ConnectionMediaType(&agreed));
    EXPECT_EQ(11025u, SampleRateOf(agreed)) << "the caller's type, not one of the offered ones";
    stdax::FreeMediaTypeContents(&agreed);
    EXPECT_EQ(S_OK, Out()->Disconnect());
    EXPECT_EQ(S_OK, In()->Disconnect());

    // Refused by the peer: its refusal is the result, nothing else is tried.
    Out()->m_checkedSubtypes.clear();
    In()->m_refusedSubtypes = {MEDIASUBTYPE_PCM};
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Out()->Connect(In()->PinInterface(), &pcm));
    EXPECT_EQ(1u, Out()->m_checkedSubtypes.size());
    EXPECT_FALSE(Out()->IsConnected());
    EXPECT_FALSE(In()->IsConnected());

    // Refused by the pin itself with an error of its own: that error is the result.
    In()->m_refusedSubtypes.clear();
    Out()->m_refusedSubtypes = {MEDIASUBTYPE_PCM};
    Out()->m_refusal = VFW_E_INVALIDMEDIATYPE;
    const int breaksBefore = Out()->m_breakConnect;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, Out()->Connect(In()->PinInterface(), &pcm));
    EXPECT_GT(Out()->m_breakConnect, breaksBefore) << "a failed attempt is undone";
    EXPECT_FALSE(Out()->IsConnected());
    stdax::FreeMediaTypeContents(&pcm);
}

TEST_F(BasePinTest, APartiallySpecifiedTypeFiltersTheOffers)
{
    AM_MEDIA_TYPE floatOnly;
    stdax::InitializeMediaType(&floatOnly);
    floatOnly.majortype = MEDIATYPE_Audio;
    floatOnly.subtype = MEDIASUBTYPE_IEEE_FLOAT;

    ASSERT_EQ(S_OK, Out()->Connect(In()->PinInterface(), &floatOnly));
    EXPECT_EQ(MEDIASUBTYPE_IEEE_FLOAT, ConnectedSubtype(In()));
    EXPECT_EQ(S_OK, Out()->Disconnect());
    EXPECT_EQ(S_OK, In()->Disconnect());

    // Nothing that fits is accepted: both passes try only float, and the result is a failure.
    Out()->m_checkedSubtypes.clear();
    In()->m_refusedSubtypes = {MEDIASUBTYPE_IEEE_FLOAT};
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, Out()->Connect(In()->PinInterface(), &floatOnly));
    const std::vector<GUID> tried = {MEDIASUBTYPE_IEEE_FLOAT, MEDIASUBTYPE_IEEE_FLOAT};
    EXPECT_EQ(tried, Out()->m_checkedSubtypes);
    EXPECT_FALSE(Out()->IsConnected());

    // A telling refusal of the peer is reported rather than the generic one.
    In()->m_refusal = VFW_E_INVALIDSUBTYPE;
    EXPECT_EQ(VFW_E_INVALIDSUBTYPE, Out()->Connect(In()->PinInterface(), &floatOnly));
}

TEST_F(BasePinTest, ARecordThePeerHandsOutWithAWrongCountIsDeleted)
{
    CCountedUnknown unknown;
    CMiscountingTypes types(&unknown);
    In()->m_typesEnumerator = &types;
    EXPECT_EQ(S_OK, Out()->Connect(In()->PinInterface(), nullptr)) << "agreed on a type of its own";
    In()->m_typesEnumerator = nullptr;
    EXPECT_TRUE(types.m_handedOut);
    EXPECT_EQ(1, unknown.m_references);
}

TEST_F(BasePinTest, ConnectRefusals)
{
    EXPECT_EQ(E_POINTER, Out()->Connect(nullptr, nullptr));

    // Same direction on both sides.
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, Out()->Connect(m_down->Output()->PinInterface(), nullptr));
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, In()->ReceiveConnection(m_up->Input()->PinInterface(), &In()->ConnectionType()));
    EXPECT_FALSE(In()->IsConnected());

    // Not while the filter runs, unless the pin may reconnect while active.
    ASSERT_EQ(S_OK, m_up->Interface()->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, Out()->Connect(In()->PinInterface(), nullptr));
    Out()->SetCanReconnectWhenActive(true);
    EXPECT_EQ(S_OK, Out()->Connect(In()->PinInterface(), nullptr));
    EXPECT_EQ(VFW_E_NOT_STOPPED, Out()->Disconnect()) << "disconnection always waits for Stop";
    ASSERT_EQ(S_OK, m_up->Interface()->Stop());

    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Out()->Connect(In()->PinInterface(), nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, In()->ReceiveConnection(Out()->PinInterface(), &In()->ConnectionType()));

    ASSERT_EQ(S_OK, m_down->Interface()->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, m_down->Output()->ReceiveConnection(m_up->Input()->PinInterface(), &In()->ConnectionType()));
    EXPECT_EQ(E_POINTER, m_down->Output()->ReceiveConnection(m_up->Input()->PinInterface(), nullptr));
}

TEST_F(BasePinTest, AFailedCompletionDisconnectsBothSides)
{
    Out()->m_completeConnectResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, Out()->Connect(In()->PinInterface(), nullptr));
    EXPECT_FALSE(Out()->IsConnected());
    EXPECT_FALSE(In()->IsConnected()) << "the peer was told to let go";
    EXPECT_GE(In()->m_breakConnect, 1);

    Out()->m_completeConnectResult = S_OK;
    In()->m_completeConnectResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, Out()->Connect(In()->PinInterface(), nullptr));
    EXPECT_FALSE(Out()->IsConnected());
    EXPECT_FALSE(In()->IsConnected());
}

TEST_F(BasePinTest, DisconnectStaysConnectedWhenBreakingFails)
{
    ASSERT_EQ(S_OK, Out()->Connect(In()->PinInterface(), nullptr));
    Out()->m_breakConnectResult = E_FAIL;
    EXPECT_EQ(E_FAIL, Out()->Disconnect());
    EXPECT_TRUE(Out()->IsConnected());
    Out()->m_breakConnectResult = S_OK;
    EXPECT_EQ(S_OK, Out()->Disconnect());
    EXPECT_FALSE(Out()->IsConnected());
    EXPECT_EQ(S_FALSE, Out()->Disconnect());

    // The connection media type outlives the connection.
    EXPECT_EQ(MEDIASUBTYPE_PCM, Out()->ConnectionType().subtype);
}
