#include "graph/device_utilities.h"

#include <mmreg.h>
#include <objbase.h>
#include <oleauto.h>
#include <uuids.h>

#include <cstring>
#include <cwchar>

#include "stdax/com/ptr.h"

namespace DirectShow {
namespace {

bool IsBadOut(void* out, size_t size)
{
    return out == nullptr || ::IsBadWritePtr(out, size);
}

// The pin's category as its IKsPropertySet reports it; false when it has none.
bool ReadPinCategory(IPin* pin, GUID* category)
{
    COM::TPtr<IKsPropertySet> properties;
    if (FAILED(pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&properties))) ||
        properties.IsNull())
        return false;
    *category = GUID_NULL;
    return SUCCEEDED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, category,
                                     sizeof(*category), nullptr));
}

bool HasDirection(IPin* pin, PIN_DIRECTION wanted)
{
    PIN_DIRECTION direction;
    return SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted;
}

// A mixer that answers its mix level exactly with S_OK is usable.
bool ReportsMixLevel(IAMAudioInputMixer* mixer)
{
    double level = 0.0;
    return mixer->get_MixLevel(&level) == S_OK;
}

} // namespace

HRESULT MakePcmMediaType(CMediaType& mediaType, DWORD sampleRate, WORD channels)
{
    auto* const format = static_cast<WAVEFORMATEX*>(::CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    if (format == nullptr)
        return E_OUTOFMEMORY;
    ::CoTaskMemFree(mediaType.pbFormat);
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = channels;
    format->nSamplesPerSec = sampleRate;
    format->nBlockAlign = static_cast<WORD>(2 * channels);
    format->nAvgBytesPerSec = format->nBlockAlign * sampleRate;
    format->wBitsPerSample = 16;
    format->cbSize = 0;
    mediaType.pbFormat = reinterpret_cast<BYTE*>(format);
    mediaType.cbFormat = sizeof(WAVEFORMATEX);
    mediaType.majortype = MEDIATYPE_Audio;
    mediaType.subtype = MEDIASUBTYPE_PCM;
    mediaType.bFixedSizeSamples = TRUE;
    mediaType.bTemporalCompression = FALSE;
    mediaType.lSampleSize = format->nBlockAlign;
    mediaType.formattype = FORMAT_WaveFormatEx;
    if (mediaType.pUnk != nullptr) {
        IUnknown* const old = mediaType.pUnk;
        mediaType.pUnk = nullptr;
        old->Release();
    }
    return S_OK;
}

HRESULT GetDeviceId(IMoniker* moniker, wchar_t** id)
{
    if (moniker == nullptr || IsBadOut(id, sizeof(*id)))
        return E_POINTER;
    *id = nullptr;
    COM::TPtr<IBindCtx> context;
    HRESULT hr = ::CreateBindCtx(0, &context);
    if (FAILED(hr))
        return hr;
    // The moniker's own string comes from the COM task allocator, as the caller expects.
    hr = moniker->GetDisplayName(context, nullptr, id);
    if (SUCCEEDED(hr) && *id == nullptr)
        hr = E_UNEXPECTED;
    return hr;
}

HRESULT GetFriendlyName(IMoniker* moniker, wchar_t** name)
{
    if (moniker == nullptr || IsBadOut(name, sizeof(*name)))
        return E_POINTER;
    COM::TPtr<IPropertyBag> bag;
    HRESULT hr = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
    if (FAILED(hr))
        return hr;
    if (bag.IsNull())
        return E_UNEXPECTED;
    VARIANT value;
    ::VariantInit(&value);
    hr = bag->Read(L"FriendlyName", &value, nullptr);
    if (SUCCEEDED(hr) && value.vt != VT_BSTR)
        hr = DISP_E_TYPEMISMATCH;  // only a string can be copied as one
    if (SUCCEEDED(hr)) {
        const UINT length = ::SysStringLen(value.bstrVal);
        auto* const copy = static_cast<wchar_t*>(::CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
        if (copy == nullptr) {
            hr = E_OUTOFMEMORY;
        } else {
            if (length != 0)
                std::memcpy(copy, value.bstrVal, length * sizeof(wchar_t));
            copy[length] = L'\0';
            *name = copy;
        }
    }
    const HRESULT cleared = ::VariantClear(&value);
    if (SUCCEEDED(hr) && FAILED(cleared)) {
        ::CoTaskMemFree(*name);
        *name = nullptr;
        hr = cleared;
    }
    return hr;
}

HRESULT FindPinByCategory(IBaseFilter* filter, REFGUID category, IPin** pin)
{
    if (filter == nullptr || IsBadOut(pin, sizeof(*pin)))
        return E_POINTER;
    *pin = nullptr;
    COM::TPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    if (pins.IsNull())
        return E_UNEXPECTED;
    for (;;) {
        COM::TPtr<IPin> candidate;
        hr = pins->Next(1, &candidate, nullptr);
        if (FAILED(hr))
            return hr;
        if (hr != S_OK || candidate.IsNull())
            return VFW_E_NOT_FOUND;
        if (!HasDirection(candidate, PINDIR_OUTPUT))
            continue;
        GUID candidateCategory;
        if (ReadPinCategory(candidate, &candidateCategory) && candidateCategory == category)
            return candidate.CopyTo(pin);
    }
}

HRESULT SuggestBufferSize(IPin* pin, long bytes)
{
    if (pin == nullptr)
        return E_POINTER;
    if (bytes == 0)
        return E_INVALIDARG;
    COM::TPtr<IAMBufferNegotiation> negotiation;
    HRESULT hr = pin->QueryInterface(IID_IAMBufferNegotiation, reinterpret_cast<void**>(&negotiation));
    if (FAILED(hr))
        return hr;
    if (negotiation.IsNull())
        return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES properties;
    properties.cBuffers = -1;  // -1: no preference
    properties.cbBuffer = bytes;
    properties.cbAlign = -1;
    properties.cbPrefix = -1;
    return negotiation->SuggestAllocatorProperties(&properties);
}

HRESULT InsertAudioCapturer(CFilterGraph& graph, IMoniker* moniker, DWORD sampleRate, DWORD samplesPerBuffer,
                            const wchar_t* name, IBaseFilter** filter, IPin** pin, WORD channels)
{
    if (IsBadOut(filter, sizeof(*filter)) || IsBadOut(pin, sizeof(*pin)))
        return E_POINTER;
    *pin = nullptr;
    CMediaType format;
    HRESULT hr = MakePcmMediaType(format, sampleRate, channels);
    if (FAILED(hr))
        return hr;

    COM::TPtr<IBaseFilter> device;
    COM::TPtr<IPin> capture;
    hr = graph.AddSourceFilterForMoniker(moniker, name, &device);
    if (SUCCEEDED(hr))
        hr = device.CopyTo(filter);
    if (SUCCEEDED(hr))
        hr = FindPinByCategory(device, PIN_CATEGORY_CAPTURE, &capture);
    if (SUCCEEDED(hr)) {
        COM::TPtr<IAMStreamConfig> config;
        hr = capture->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
        if (SUCCEEDED(hr))
            hr = config.IsNull() ? E_UNEXPECTED : config->SetFormat(&format);
        // A device that cannot give stereo says so with a code of its own, whatever its refusal was.
        if (FAILED(hr) && hr != E_UNEXPECTED && channels == 2)
            hr = NoStereoCapture;
        // The buffer size is suggested even when the format was refused; the first failure is kept.
        const HRESULT suggested = SuggestBufferSize(capture, static_cast<long>(format.lSampleSize * samplesPerBuffer));
        if (SUCCEEDED(hr) && FAILED(suggested))
            hr = suggested;
        if (SUCCEEDED(hr))
            hr = capture.CopyTo(pin);
    }
    const HRESULT freed = FreeMediaType(&format);
    if (SUCCEEDED(hr) && FAILED(freed))
        hr = freed;
    return hr;
}

HRESULT GetAMAudioInputMixer(IBaseFilter* filter, IAMAudioInputMixer** mixer)
{
    if (filter == nullptr || IsBadOut(mixer, sizeof(*mixer)))
        return E_POINTER;
    COM::TPtr<IAMAudioInputMixer> found;
    if (FAILED(filter->QueryInterface(IID_IAMAudioInputMixer, reinterpret_cast<void**>(&found))) ||
        found.IsNull() || !ReportsMixLevel(found)) {
        found.Release();
        COM::TPtr<IEnumPins> pins;
        if (SUCCEEDED(filter->EnumPins(&pins)) && pins.IsValid()) {
            for (COM::TPtr<IPin> pin; found.IsNull() && pins->Next(1, &pin, nullptr) == S_OK && pin.IsValid();) {
                if (!HasDirection(pin, PINDIR_INPUT))
                    continue;
                COM::TPtr<IAMAudioInputMixer> candidate;
                if (FAILED(pin->QueryInterface(IID_IAMAudioInputMixer, reinterpret_cast<void**>(&candidate))) ||
                    candidate.IsNull())
                    continue;
                BOOL enabled = FALSE;
                if (SUCCEEDED(candidate->get_Enable(&enabled)) && enabled && ReportsMixLevel(candidate))
                    found = candidate;
            }
        }
    }
    if (found.IsNull())
        return E_NOTIMPL;
    return found.CopyTo(mixer);
}

HRESULT FindOutput2Pin(IBaseFilter* filter, IPin** pin)
{
    if (filter == nullptr || IsBadOut(pin, sizeof(*pin)))
        return E_POINTER;
    *pin = nullptr;
    COM::TPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    if (pins.IsNull())
        return E_UNEXPECTED;
    wchar_t* id = nullptr;
    for (COM::TPtr<IPin> candidate; id == nullptr && pins->Next(1, &candidate, nullptr) == S_OK && candidate.IsValid();) {
        PIN_INFO info;
        if (FAILED(candidate->QueryPinInfo(&info)))
            continue;
        if (info.pFilter != nullptr)
            info.pFilter->Release();
        info.achName[MAX_PIN_NAME - 1] = L'\0';
        if (std::wcscmp(info.achName, L"Output2") == 0) {
            hr = candidate->QueryId(&id);
            if (FAILED(hr))
                return hr;
            if (id == nullptr)
                return E_UNEXPECTED;
        }
    }
    if (id == nullptr)
        return VFW_E_NOT_FOUND;
    hr = filter->FindPin(id, pin);
    ::CoTaskMemFree(id);
    return hr;
}

} // namespace DirectShow
