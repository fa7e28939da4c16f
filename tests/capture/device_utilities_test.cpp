// The device and media-type utilities against the test prefix: the capture format record, the
// filter enumerator over the audio input category and the filter mapper, and the tone capture
// device, the infinite tee and their pins in a graph of Wine's graph manager.
#include "graph/device_utilities.h"
#include "graph/filter_enumerator.h"
#include "graph/filter_graph.h"

#include "capture_platform.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <mmreg.h>
#include <uuids.h>

using ::testing::Contains;
using ::testing::Field;
using namespace DirectShow;

namespace {

class CComThread {
public:
    CComThread() { ::CoInitialize(nullptr); }
    ~CComThread() { ::CoUninitialize(); }
};

GUID SubtypeOfTag(WORD tag)
{
    GUID subtype = MEDIASUBTYPE_PCM;
    subtype.Data1 = tag;
    return subtype;
}

std::vector<std::wstring> Names(const CDeviceNameList& list)
{
    std::vector<std::wstring> names;
    for (const CDeviceName& entry : list)
        names.push_back(entry.name);
    return names;
}

TEST(MediaTypes, PcmCaptureFormat)
{
    CMediaType type;
    ASSERT_EQ(MakePcmMediaType(type, 44100), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(type.formattype, FORMAT_WaveFormatEx);
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_FALSE(type.bTemporalCompression);
    EXPECT_EQ(type.lSampleSize, 2u);
    ASSERT_EQ(type.cbFormat, 18u);
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    EXPECT_EQ(format->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format->nChannels, 1);
    EXPECT_EQ(format->nSamplesPerSec, 44100u);
    EXPECT_EQ(format->nAvgBytesPerSec, 88200u);
    EXPECT_EQ(format->nBlockAlign, 2);
    EXPECT_EQ(format->wBitsPerSample, 16);
    EXPECT_EQ(format->cbSize, 0);

    // Building again replaces the format block.
    ASSERT_EQ(MakePcmMediaType(type, 8000), S_OK);
    ASSERT_EQ(type.cbFormat, 18u);
    EXPECT_EQ(reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat)->nAvgBytesPerSec, 16000u);
}

TEST(FilterEnumerator, AudioInputsWithTheToneDeviceFirst)
{
    CComThread com;
    CFilterEnumerator empty;
    LONG index = 5;
    ULONG count = 5;
    EXPECT_EQ(empty.GetDefaultIndex(&index), S_FALSE);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(empty.GetCount(&count), S_FALSE);
    EXPECT_EQ(count, 0u);
    COM::TPtr<IMoniker> moniker;
    EXPECT_EQ(empty.GetItem(static_cast<ULONG>(-1), &moniker), E_INVALIDARG);
    EXPECT_EQ(empty.Free(), S_FALSE);  // never filled: nothing to release, no COM to undo

    CFilterEnumerator devices;
    ASSERT_EQ(devices.EnumerateCategory(0, CLSID_AudioInputDeviceCategory), S_OK);
    EXPECT_EQ(devices.EnumerateCategory(0, CLSID_AudioInputDeviceCategory), E_UNEXPECTED);
    EXPECT_EQ(devices.GetDefaultIndex(&index), S_OK);
    EXPECT_EQ(index, 0);
    ASSERT_EQ(devices.GetCount(&count), S_OK);
    EXPECT_EQ(devices.GetItem(count, &moniker), E_INVALIDARG);
    EXPECT_EQ(devices.GetItem(0, nullptr), E_POINTER);
    EXPECT_EQ(devices.GetDefaultIndex(nullptr), E_POINTER);

    CDeviceNameList names;
    EXPECT_EQ(devices.GetFriendlyNames(names), S_OK);
    ASSERT_EQ(names.size(), count);
    EXPECT_EQ(names[0].name, CapturePlatform::kToneCaptureName);
    wchar_t* name = nullptr;
    ASSERT_EQ(devices.GetItem(0, &moniker), S_OK);
    ASSERT_EQ(GetFriendlyName(moniker, &name), S_OK);
    EXPECT_STREQ(name, CapturePlatform::kToneCaptureName);
    ::CoTaskMemFree(name);
    EXPECT_EQ(GetFriendlyName(moniker, nullptr), E_POINTER);

    names.clear();
    moniker.Release();
    EXPECT_EQ(devices.Free(), S_OK);
    EXPECT_EQ(devices.GetCount(&count), S_FALSE);
    EXPECT_EQ(devices.Free(), S_FALSE);
    // Empty again: it can be filled once more.
    EXPECT_EQ(devices.EnumerateCategory(0, CLSID_AudioInputDeviceCategory), S_OK);
    EXPECT_EQ(devices.Free(), S_OK);
}

TEST(FilterEnumerator, CompressorsByOutputTypeAndCategory)
{
    CComThread com;
    CFilterEnumerator matching;
    CDeviceNameList matchingNames;
    ASSERT_EQ(matching.EnumerateMatchingFilters({MEDIATYPE_Audio, GUID_NULL},
                                                {MEDIATYPE_Audio, SubtypeOfTag(WAVE_FORMAT_IMA_ADPCM)}),
              S_OK);
    ASSERT_GE(matching.GetFriendlyNames(matchingNames), S_OK);
    EXPECT_THAT(Names(matchingNames), Contains(std::wstring(L"Test ACM IMA ADPCM")));

    CFilterEnumerator compressors;
    CDeviceNameList compressorNames;
    ASSERT_EQ(compressors.EnumerateCategory(CDEF_DEVMON_CMGR_DEVICE, CLSID_AudioCompressorCategory), S_OK);
    ASSERT_GE(compressors.GetFriendlyNames(compressorNames), S_OK);
    for (const CapturePlatform::CompressorClass& compressor : CapturePlatform::kCompressors)
        EXPECT_THAT(Names(compressorNames), Contains(std::wstring(compressor.name)));

    // Nothing turns audio into MS ADPCM here.
    CFilterEnumerator none;
    CDeviceNameList noNames;
    EXPECT_EQ(none.EnumerateMatchingFilters({MEDIATYPE_Audio, GUID_NULL}, {MEDIATYPE_Audio, SubtypeOfTag(WAVE_FORMAT_ADPCM)}),
              S_FALSE);
    EXPECT_EQ(none.GetFriendlyNames(noNames), S_FALSE);
    EXPECT_TRUE(noNames.empty());
    matchingNames.clear();
    compressorNames.clear();
}

// The tone device and a tee in a graph, as the capture graph puts them together.
class DevicePins : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(graph.Create(), S_OK);
        ASSERT_EQ(devices.EnumerateCategory(0, CLSID_AudioInputDeviceCategory), S_OK);
        ASSERT_EQ(devices.GetItem(0, &moniker), S_OK);
        ASSERT_EQ(graph.AddFilter(CLSID_InfTee, nullptr, &tee), S_OK);
    }

    CComThread com;
    CFilterGraph graph;
    CFilterEnumerator devices;
    COM::TPtr<IMoniker> moniker;
    COM::TPtr<IBaseFilter> tee;
};

TEST_F(DevicePins, CapturePinSetToTheRequestedFormat)
{
    COM::TPtr<IBaseFilter> device;
    COM::TPtr<IPin> capture;
    ASSERT_EQ(InsertAudioCapturer(graph, moniker, 22050, 22050 / 25, L"capturer", &device, &capture), S_OK);
    COM::TPtr<IBaseFilter> byName;
    EXPECT_EQ(graph->FindFilterByName(L"capturer", &byName), S_OK);
    EXPECT_EQ(byName.p, device.p);

    COM::TPtr<IPin> again;
    ASSERT_EQ(FindPinByCategory(device, PIN_CATEGORY_CAPTURE, &again), S_OK);
    EXPECT_EQ(again.p, capture.p);
    // The tee's pins have no category.
    EXPECT_EQ(FindPinByCategory(tee, PIN_CATEGORY_CAPTURE, &again), VFW_E_NOT_FOUND);
    EXPECT_EQ(again.p, nullptr);

    COM::TPtr<IAMStreamConfig> config;
    ASSERT_EQ(capture->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)), S_OK);
    AM_MEDIA_TYPE* set = nullptr;
    ASSERT_EQ(config->GetFormat(&set), S_OK);
    ASSERT_NE(set, nullptr);
    ASSERT_GE(set->cbFormat, sizeof(WAVEFORMATEX));
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(set->pbFormat);
    EXPECT_EQ(format->nSamplesPerSec, 22050u);
    EXPECT_EQ(format->nChannels, 1);
    EXPECT_EQ(format->wBitsPerSample, 16);
    DeleteMediaType(&set);

    COM::TPtr<IPin> teeInput;
    ASSERT_EQ(CFilterGraph::FindPinByDirection(tee, PINDIR_INPUT, &teeInput), S_OK);
    EXPECT_EQ(SuggestBufferSize(capture, 0), E_INVALIDARG);
    EXPECT_EQ(SuggestBufferSize(nullptr, 100), E_POINTER);
    // A pin without buffer negotiation.
    EXPECT_EQ(SuggestBufferSize(teeInput, 100), E_NOINTERFACE);
}

TEST_F(DevicePins, MixerOfTheDeviceAndTheTeesSecondOutput)
{
    COM::TPtr<IBaseFilter> device;
    COM::TPtr<IPin> capture;
    ASSERT_EQ(InsertAudioCapturer(graph, moniker, 44100, 44100 / 25, L"capturer", &device, &capture), S_OK);

    // The filter's own mixer is preferred.
    COM::TPtr<IAMAudioInputMixer> mixer;
    ASSERT_EQ(GetAMAudioInputMixer(device, &mixer), S_OK);
    COM::TPtr<IAMAudioInputMixer> own;
    ASSERT_EQ(device->QueryInterface(IID_IAMAudioInputMixer, reinterpret_cast<void**>(&own)), S_OK);
    EXPECT_EQ(mixer.p, own.p);
    EXPECT_EQ(GetAMAudioInputMixer(tee, &mixer), E_NOTIMPL);
    EXPECT_EQ(GetAMAudioInputMixer(nullptr, &mixer), E_POINTER);

    // "Output2" appears once the first output is connected.
    COM::TPtr<IPin> output2;
    EXPECT_EQ(FindOutput2Pin(tee, &output2), VFW_E_NOT_FOUND);
    COM::TPtr<IPin> teeInput;
    COM::TPtr<IPin> teeOutput;
    ASSERT_EQ(CFilterGraph::FindPinByDirection(tee, PINDIR_INPUT, &teeInput), S_OK);
    ASSERT_EQ(graph.ConnectDirect(capture, teeInput), S_OK);
    ASSERT_EQ(CFilterGraph::FindPinByDirection(tee, PINDIR_OUTPUT, &teeOutput), S_OK);
    COM::TPtr<IBaseFilter> otherTee;
    COM::TPtr<IPin> otherInput;
    ASSERT_EQ(graph.AddFilter(CLSID_InfTee, L"second tee", &otherTee), S_OK);
    ASSERT_EQ(CFilterGraph::FindPinByDirection(otherTee, PINDIR_INPUT, &otherInput), S_OK);
    ASSERT_EQ(graph.ConnectDirect(teeOutput, otherInput), S_OK);
    ASSERT_EQ(FindOutput2Pin(tee, &output2), S_OK);
    PIN_INFO info;
    ASSERT_EQ(output2->QueryPinInfo(&info), S_OK);
    info.pFilter->Release();
    EXPECT_STREQ(info.achName, L"Output2");
    EXPECT_EQ(FindOutput2Pin(tee, nullptr), E_POINTER);
}

} // namespace
