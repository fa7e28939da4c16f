// IAMovieSetup: registering the test filter with the platform's filter mapper in the test prefix,
// finding it there by its pins' media types, and unregistering it again.
#include "stdax/com/ptr.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <uuids.h>

#include <string>
#include <thread>

using namespace StdaxTest;

namespace {

std::wstring ClassKey(const wchar_t* below = L"", const wchar_t* root = L"CLSID\\")
{
    WCHAR text[40] = {};
    ::StringFromGUID2(CLSID_TestFilter, text, 40);
    return std::wstring(root) + text + below;
}

// The mapper's list of registered filters (the class key itself may stay: it belongs to COM).
std::wstring FilterKey()
{
    return ClassKey(L"", L"Filter\\");
}

bool KeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

// Whether the filter mapper lists the test filter among the filters with an audio input pin of
// the given subtype and an audio output pin of the given subtype.
bool MapperFinds(const GUID& inputSubtype, const GUID& outputSubtype)
{
    COM::TPtr<IFilterMapper> mapper;
    if (FAILED(::CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                  reinterpret_cast<void**>(&mapper))))
        return false;
    COM::TPtr<IEnumRegFilters> filters;
    if (FAILED(mapper->EnumMatchingFilters(&filters, 0, TRUE, MEDIATYPE_Audio, inputSubtype, FALSE, TRUE,
                                           MEDIATYPE_Audio, outputSubtype)) ||
        filters.IsNull())
        return false;
    bool found = false;
    REGFILTER* filter = nullptr;
    ULONG fetched = 0;
    while (filters->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
        found = found || filter->Clsid == CLSID_TestFilter;
        ::CoTaskMemFree(filter);
    }
    return found;
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_filter = CTestFilter::Create();
        ASSERT_NE(nullptr, m_filter);
        ASSERT_EQ(S_OK, m_filter->Interface()->QueryInterface(IID_IAMovieSetup, reinterpret_cast<void**>(&m_setup)));
    }
    void TearDown() override
    {
        // Nothing of the test may stay in the prefix.
        EXPECT_EQ(S_OK, m_setup->Unregister());
        m_setup.Release();
        EXPECT_EQ(0u, m_filter->Interface()->Release());
        EXPECT_EQ(0, m_live.Leaked());
    }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    CTestFilter* m_filter = nullptr;
    COM::TPtr<IAMovieSetup> m_setup;
};

} // namespace

TEST_F(RegistrationTest, RegisterRecordsFilterPinsAndTypesAndUnregisterRemovesThem)
{
    EXPECT_EQ(S_OK, m_setup->Unregister()) << "never registered";
    EXPECT_FALSE(KeyExists(FilterKey()));

    ASSERT_EQ(S_OK, m_setup->Register());
    EXPECT_TRUE(KeyExists(FilterKey()));
    EXPECT_TRUE(KeyExists(ClassKey(L"\\Pins\\In")));
    EXPECT_TRUE(KeyExists(ClassKey(L"\\Pins\\Out")));
    EXPECT_TRUE(MapperFinds(MEDIASUBTYPE_PCM, MEDIASUBTYPE_IEEE_FLOAT));
    EXPECT_FALSE(MapperFinds(MEDIASUBTYPE_PCM, MEDIASUBTYPE_MPEG1AudioPayload));

    // Registering again replaces the earlier registration.
    EXPECT_EQ(S_OK, m_setup->Register());
    EXPECT_TRUE(MapperFinds(MEDIASUBTYPE_IEEE_FLOAT, MEDIASUBTYPE_PCM));

    EXPECT_EQ(S_OK, m_setup->Unregister());
    EXPECT_FALSE(KeyExists(FilterKey()));
    EXPECT_FALSE(KeyExists(ClassKey(L"\\Pins")));
    EXPECT_FALSE(MapperFinds(MEDIASUBTYPE_PCM, MEDIASUBTYPE_IEEE_FLOAT));
    EXPECT_EQ(S_OK, m_setup->Unregister());
}

TEST_F(RegistrationTest, WorksFromAThreadWithoutComAndFromTheMultithreadedApartment)
{
    // This test's own thread lives in the multithreaded apartment already.
    ASSERT_EQ(S_OK, m_setup->Register());

    HRESULT unregistered = E_UNEXPECTED;
    HRESULT comAfterwards = E_UNEXPECTED;
    IAMovieSetup* const setup = m_setup.p;
    std::thread worker([&] {
        unregistered = setup->Unregister();
        // The registration left no COM initialisation behind on this thread.
        comAfterwards = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(comAfterwards))
            ::CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(S_OK, unregistered);
    EXPECT_EQ(S_OK, comAfterwards);
    EXPECT_FALSE(MapperFinds(MEDIASUBTYPE_PCM, MEDIASUBTYPE_IEEE_FLOAT));
}
