#include "test_support.h"

#include "capture_platform.h"
#include "pcm_signal.h"

#include <gtest/gtest.h>

#include <uuids.h>

namespace CapturePlatformTest {

namespace {

std::vector<COM::TPtr<IMoniker>> Drain(IEnumMoniker* monikers)
{
    std::vector<COM::TPtr<IMoniker>> list;
    if (monikers == nullptr)
        return list;
    IMoniker* moniker = nullptr;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        list.emplace_back(moniker);
        moniker->Release();
    }
    return list;
}

} // namespace

std::vector<COM::TPtr<IMoniker>> CategoryMonikers(const CLSID& category, DWORD flags)
{
    COM::TPtr<ICreateDevEnum> devices;
    EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                       reinterpret_cast<void**>(&devices)));
    COM::TPtr<IEnumMoniker> monikers;
    if (devices.IsNull() || devices->CreateClassEnumerator(category, &monikers, flags) != S_OK)
        return {};
    return Drain(monikers);
}

std::vector<COM::TPtr<IMoniker>> MatchingFilterMonikers(const GUID& outputSubtype)
{
    COM::TPtr<IFilterMapper2> mapper;
    EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                       reinterpret_cast<void**>(&mapper)));
    if (mapper.IsNull())
        return {};
    const GUID input[2] = {MEDIATYPE_Audio, GUID_NULL};
    const GUID output[2] = {MEDIATYPE_Audio, outputSubtype};
    COM::TPtr<IEnumMoniker> monikers;
    const HRESULT hr = mapper->EnumMatchingFilters(&monikers, 0, TRUE, MERIT_DO_NOT_USE, TRUE, 1, input, nullptr,
                                                   nullptr, FALSE, TRUE, 1, output, nullptr, nullptr);
    EXPECT_EQ(S_OK, hr);
    return Drain(monikers);
}

std::wstring MonikerProperty(IMoniker* moniker, const wchar_t* name)
{
    COM::TPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag))))
        return {};
    VARIANT value;
    ::VariantInit(&value);
    std::wstring text;
    if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal != nullptr)
        text = value.bstrVal;
    ::VariantClear(&value);
    return text;
}

COM::TPtr<IGraphBuilder> CreateGraph()
{
    COM::TPtr<IGraphBuilder> graph;
    EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                       reinterpret_cast<void**>(&graph)));
    return graph;
}

COM::TPtr<IBaseFilter> AddFromMoniker(IGraphBuilder* graph, IMoniker* moniker)
{
    COM::TPtr<IFilterGraph2> graph2;
    COM::TPtr<IBaseFilter> filter;
    EXPECT_EQ(S_OK, graph->QueryInterface(IID_IFilterGraph2, reinterpret_cast<void**>(&graph2)));
    if (graph2.IsNull())
        return filter;
    const std::wstring name = MonikerProperty(moniker, L"FriendlyName");
    EXPECT_EQ(S_OK, graph2->AddSourceFilterForMoniker(moniker, nullptr, name.c_str(), &filter));
    return filter;
}

COM::TPtr<IBaseFilter> AddByClass(IGraphBuilder* graph, const CLSID& clsid, const wchar_t* name)
{
    COM::TPtr<IBaseFilter> filter;
    EXPECT_EQ(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&filter)));
    if (filter.IsValid()) {
        EXPECT_EQ(S_OK, graph->AddFilter(filter, name));
    }
    return filter;
}

COM::TPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction)
{
    COM::TPtr<IEnumPins> pins;
    COM::TPtr<IPin> found;
    if (filter == nullptr || FAILED(filter->EnumPins(&pins)))
        return found;
    IPin* pin = nullptr;
    while (found.IsNull() && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION pinDirection = PINDIR_INPUT;
        if (SUCCEEDED(pin->QueryDirection(&pinDirection)) && pinDirection == direction)
            found = pin;
        pin->Release();
    }
    return found;
}

COM::TPtr<IPin> PinNamed(IBaseFilter* filter, const wchar_t* name)
{
    COM::TPtr<IPin> pin;
    if (filter != nullptr)
        filter->FindPin(name, &pin);
    return pin;
}

std::vector<std::wstring> PinNames(IBaseFilter* filter)
{
    std::vector<std::wstring> names;
    COM::TPtr<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(&pins)))
        return names;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_INFO info = {};
        if (SUCCEEDED(pin->QueryPinInfo(&info))) {
            names.emplace_back(info.achName);
            if (info.pFilter != nullptr)
                info.pFilter->Release();
        }
        pin->Release();
    }
    return names;
}

HRESULT ConnectDirect(IGraphBuilder* graph, IPin* out, IPin* in)
{
    if (graph == nullptr || out == nullptr || in == nullptr)
        return E_POINTER;
    return graph->ConnectDirect(out, in, nullptr);
}

WAVEFORMATEX PcmFormat(DWORD rate, WORD channels, WORD bits)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

AM_MEDIA_TYPE PcmType(const WAVEFORMATEX& format)
{
    AM_MEDIA_TYPE type = {};
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = format.nBlockAlign;
    type.formattype = FORMAT_WaveFormatEx;
    type.cbFormat = sizeof(WAVEFORMATEX);
    type.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    *reinterpret_cast<WAVEFORMATEX*>(type.pbFormat) = format;
    return type;
}

void FreePcmType(AM_MEDIA_TYPE& type)
{
    ::CoTaskMemFree(type.pbFormat);
    type.pbFormat = nullptr;
    type.cbFormat = 0;
}

std::vector<BYTE> RecordedTone(const WAVEFORMATEX& format, LONGLONG frames, LONGLONG first, double frequency)
{
    PcmSource::Settings settings;
    settings.waveform = PcmSource::Waveform::Tone;
    settings.frequency = frequency;
    settings.amplitude = CapturePlatform::kToneAmplitude;
    settings.sampleRate = format.nSamplesPerSec;
    settings.channels = format.nChannels;
    settings.bitsPerSample = format.wBitsPerSample;
    std::vector<BYTE> bytes(static_cast<size_t>(frames) * format.nBlockAlign);
    PcmSource::CSignal signal(settings);
    signal.Skip(first);
    if (!bytes.empty())
        signal.Fill(bytes.data(), static_cast<ULONG>(frames));
    return bytes;
}

} // namespace CapturePlatformTest
