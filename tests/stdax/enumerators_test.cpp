// The pin and media type enumerators: Next, Skip, Reset and Clone, and what they do when the
// filter's pins or a pin's types change under them.
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <uuids.h>

using namespace StdaxTest;

namespace {

class EnumeratorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_filter = CTestFilter::Create();
        ASSERT_NE(nullptr, m_filter);
    }
    void TearDown() override
    {
        EXPECT_EQ(0u, m_filter->Interface()->Release()) << "enumerators gave back their references";
        EXPECT_EQ(0, m_live.Leaked());
    }

    COM::TPtr<IEnumPins> PinEnumerator()
    {
        COM::TPtr<IEnumPins> pins;
        EXPECT_EQ(S_OK, m_filter->EnumPins(&pins));
        return pins;
    }
    COM::TPtr<IEnumMediaTypes> TypeEnumerator(CTestPin* pin)
    {
        COM::TPtr<IEnumMediaTypes> types;
        EXPECT_EQ(S_OK, pin->EnumMediaTypes(&types));
        return types;
    }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    CTestFilter* m_filter = nullptr;
};

void ReleaseAll(IPin** pins, ULONG count)
{
    for (ULONG i = 0; i < count; ++i)
        pins[i]->Release();
}

void DeleteAll(AM_MEDIA_TYPE** types, ULONG count)
{
    for (ULONG i = 0; i < count; ++i)
        stdax::DeleteMediaTypeRecord(types[i]);
}

} // namespace

TEST_F(EnumeratorTest, PinsNextSkipResetAndArguments)
{
    COM::TPtr<IEnumPins> pins = PinEnumerator();
    EXPECT_EQ(2u, m_filter->Interface()->AddRef() - 1) << "the enumerator holds the filter";
    m_filter->Interface()->Release();

    IPin* got[3] = {};
    ULONG fetched = 99;
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, got, nullptr));
    EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, &fetched));

    ASSERT_EQ(S_FALSE, pins->Next(3, got, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(m_filter->Input()->PinInterface(), got[0]);
    EXPECT_EQ(m_filter->Output()->PinInterface(), got[1]);
    ReleaseAll(got, fetched);
    EXPECT_EQ(S_FALSE, pins->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);

    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(1));
    EXPECT_EQ(S_FALSE, pins->Skip(2)) << "past the end: position unchanged";
    ASSERT_EQ(S_OK, pins->Next(1, got, nullptr));
    EXPECT_EQ(m_filter->Output()->PinInterface(), got[0]);
    ReleaseAll(got, 1);

    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(2));
    EXPECT_EQ(S_FALSE, pins->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);

    COM::TPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, pins->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    void* other = nullptr;
    EXPECT_EQ(E_NOINTERFACE, pins->QueryInterface(IID_IEnumMediaTypes, &other));
    EXPECT_EQ(E_POINTER, pins->QueryInterface(IID_IEnumPins, nullptr));
}

TEST_F(EnumeratorTest, APinCloneNeverReturnsWhatItsSourceReturned)
{
    COM::TPtr<IEnumPins> pins = PinEnumerator();
    IPin* got[2] = {};
    ASSERT_EQ(S_OK, pins->Next(1, got, nullptr));
    got[0]->Release();

    COM::TPtr<IEnumPins> clone;
    ASSERT_EQ(S_OK, pins->Clone(&clone));
    ASSERT_EQ(S_OK, clone->Next(1, got, nullptr));
    EXPECT_EQ(m_filter->Output()->PinInterface(), got[0]);
    got[0]->Release();

    // A walk restarted by a change of the pin set passes over the pins already handed out.
    ASSERT_EQ(S_OK, m_filter->AddInputPin(L"In 2"));
    m_filter->ChangePinVersion();
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Skip(1));
    IEnumPins* none = reinterpret_cast<IEnumPins*>(1);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Clone(&none));
    EXPECT_EQ(nullptr, none);
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, pins->Next(2, got, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(m_filter->Output()->PinInterface(), got[0]);
    EXPECT_EQ(m_filter->GetPin(2)->PinInterface(), got[1]);
    ReleaseAll(got, fetched);

    // Reset forgets what was handed out.
    EXPECT_EQ(S_OK, pins->Reset());
    ASSERT_EQ(S_OK, pins->Next(1, got, nullptr));
    EXPECT_EQ(m_filter->Input()->PinInterface(), got[0]);
    got[0]->Release();
}

TEST_F(EnumeratorTest, AMissingPinEndsTheWalkOutOfSync)
{
    COM::TPtr<IEnumPins> pins = PinEnumerator();
    m_filter->m_nullPinIndex = 1;
    IPin* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Next(2, got, &fetched));
    ASSERT_EQ(1u, fetched);
    got[0]->Release();
}

TEST_F(EnumeratorTest, MediaTypesNextSkipAndClone)
{
    COM::TPtr<IEnumMediaTypes> types = TypeEnumerator(m_filter->Output());
    AM_MEDIA_TYPE* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(E_INVALIDARG, types->Next(2, got, nullptr));
    ASSERT_EQ(S_FALSE, types->Next(3, got, &fetched)) << "two types offered";
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(MEDIASUBTYPE_PCM, got[0]->subtype);
    EXPECT_EQ(MEDIASUBTYPE_IEEE_FLOAT, got[1]->subtype);
    EXPECT_EQ(44100u, SampleRateOf(*got[1]));
    DeleteAll(got, fetched);

    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(0));
    EXPECT_EQ(S_OK, types->Skip(2)) << "onto the last type";
    EXPECT_EQ(S_FALSE, types->Skip(1));
    EXPECT_EQ(S_FALSE, types->Skip(0xFFFFFFFF));
    EXPECT_EQ(S_FALSE, types->Next(1, got, &fetched)) << "the position stayed past the end";
    EXPECT_EQ(0u, fetched);

    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(1));
    COM::TPtr<IEnumMediaTypes> clone;
    ASSERT_EQ(S_OK, types->Clone(&clone));
    ASSERT_EQ(S_OK, clone->Next(1, got, nullptr));
    EXPECT_EQ(MEDIASUBTYPE_IEEE_FLOAT, got[0]->subtype) << "the clone goes on from its source's position";
    DeleteAll(got, 1);

    // A changed type set makes both out of date until Reset.
    m_filter->Output()->ChangeMediaTypeVersion();
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, got, nullptr));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Skip(1));
    IEnumMediaTypes* none = reinterpret_cast<IEnumMediaTypes*>(1);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, clone->Clone(&none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(S_OK, types->Reset());
    ASSERT_EQ(S_OK, types->Next(1, got, nullptr));
    DeleteAll(got, 1);
}

TEST_F(EnumeratorTest, EnumeratorsKeepTheirFilterAlive)
{
    COM::TPtr<IEnumMediaTypes> types = TypeEnumerator(m_filter->Input());
    COM::TPtr<IEnumPins> pins = PinEnumerator();
    m_filter->Interface()->AddRef();
    EXPECT_EQ(3u, m_filter->Interface()->Release()) << "test + two enumerators";
    pins.Release();
    types.Release();
    m_filter->Interface()->AddRef();
    EXPECT_EQ(1u, m_filter->Interface()->Release());
}
