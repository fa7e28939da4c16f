#include "registration.h"

#include "capture_platform.h"
#include "media_formats.h"

#include "stdax/com/ptr.h"
#include "support/step_sequence.h"
#include "support/system_error.h"

#include <shlwapi.h>
#include <uuids.h>

#include <string>

namespace CapturePlatform {

namespace {

HRESULT SetString(HKEY key, const wchar_t* name, const wchar_t* value)
{
    const LONG error = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                        static_cast<DWORD>((::lstrlenW(value) + 1) * sizeof(wchar_t)));
    return error == ERROR_SUCCESS ? S_OK : Win32::ResultFromSystemError(error);
}

std::wstring ClassKeyPath(const CLSID& clsid)
{
    WCHAR text[40] = {};
    ::StringFromGUID2(clsid, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

const CLSID* const kClasses[] = {&CLSID_ToneCapture, &CLSID_InfTee, &CLSID_WaveOutRenderer};

HRESULT CreateMapper(COM::TPtr<IFilterMapper2>& mapper)
{
    return ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                              reinterpret_cast<void**>(&mapper));
}

// Unregisters one instance of the class from the category; E_POINTER for an unreadable instance name.
HRESULT UnregisterInstance(const CLSID& category, const wchar_t* instance, const CLSID& clsid)
{
    if (instance == nullptr || ::IsBadStringPtrW(instance, 256))
        return E_POINTER;
    HRESULT hr = S_OK;
    COM::TPtr<IFilterMapper2> mapper;
    CStepSequence(hr)
        .Do([&] { return CreateMapper(mapper); })
        .Do([&] { return mapper->UnregisterFilter(&category, instance, clsid); });
    return hr;
}

} // namespace

HRESULT CRegistration::RegisterClassKey(const CLSID& clsid, const wchar_t* name, const wchar_t* modulePath)
{
    try {
        const std::wstring path = ClassKeyPath(clsid);
        HKEY classKey = nullptr;
        LONG error = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &classKey,
                                       nullptr);
        if (error != ERROR_SUCCESS)
            return Win32::ResultFromSystemError(error);
        HRESULT hr = SetString(classKey, nullptr, name);
        HKEY serverKey = nullptr;
        if (SUCCEEDED(hr)) {
            error = ::RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &serverKey, nullptr);
            hr = error == ERROR_SUCCESS ? S_OK : Win32::ResultFromSystemError(error);
        }
        if (SUCCEEDED(hr)) {
            CStepSequence(hr)
                .Do([&] { return SetString(serverKey, nullptr, modulePath); })
                .Do([&] { return SetString(serverKey, L"ThreadingModel", L"Both"); });
            ::RegCloseKey(serverKey);
        }
        ::RegCloseKey(classKey);
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CRegistration::UnregisterClassKey(const CLSID& clsid)
{
    try {
        const LONG error = ::SHDeleteKeyW(HKEY_CLASSES_ROOT, ClassKeyPath(clsid).c_str());
        return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK : Win32::ResultFromSystemError(error);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CRegistration::RegisterInCategory(IFilterMapper2* mapper, const CLSID& clsid, const wchar_t* name,
                                          const CLSID& category, const REGFILTERPINS* pins, ULONG pinCount,
                                          DWORD merit)
{
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = merit;
    filter.cPins = pinCount;
    filter.rgPins = pins;
    IMoniker* moniker = nullptr;
    const HRESULT hr = mapper->RegisterFilter(clsid, name, &moniker, &category, nullptr, &filter);
    if (moniker != nullptr)
        moniker->Release();
    return hr;
}

HRESULT CRegistration::RegisterCaptureDevice(IFilterMapper2* mapper, const wchar_t* instance, const wchar_t* name,
                                             double frequency)
{
    const REGPINTYPES pcm = {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM};
    const REGFILTERPINS capturePin = {const_cast<LPWSTR>(L"Capture"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 1, &pcm};
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins = 1;
    filter.rgPins = &capturePin;
    COM::TPtr<IMoniker> moniker;
    COM::TPtr<IPropertyBag> bag;
    VARIANT tone;
    ::VariantInit(&tone);
    tone.vt = VT_I4;
    tone.lVal = static_cast<LONG>(frequency);
    HRESULT hr = S_OK;
    CStepSequence(hr)
        .Do([&] {
            return mapper->RegisterFilter(CLSID_ToneCapture, name, &moniker, &CLSID_AudioInputDeviceCategory, instance,
                                          &filter);
        })
        .Do([&] { return moniker.IsNull() ? E_UNEXPECTED : S_OK; })
        .Do([&] { return moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)); })
        .Do([&] { return bag->Write(kToneFrequencyProperty, &tone); });
    return hr;
}

HRESULT CRegistration::Register()
{
    WCHAR modulePath[MAX_PATH];
    if (::GetModuleFileNameW(m_module, modulePath, MAX_PATH) == 0)
        return Win32::ResultFromLastError();

    HRESULT hr = S_OK;
    CStepSequence steps(hr);
    steps.Do([&] { return RegisterClassKey(CLSID_ToneCapture, kToneCaptureName, modulePath); })
        .Do([&] { return RegisterClassKey(CLSID_InfTee, L"Infinite Pin Tee Filter", modulePath); })
        .Do([&] { return RegisterClassKey(CLSID_WaveOutRenderer, kWaveOutRendererName, modulePath); });
    for (const CompressorClass& compressor : kCompressors)
        steps.Do([&] { return RegisterClassKey(*compressor.clsid, compressor.name, modulePath); });

    COM::TPtr<IFilterMapper2> mapper;
    steps.Do([&] { return CreateMapper(mapper); });

    // The first device under the CLSID string (no instance name given), the second after it.
    steps.Do([&] { return RegisterCaptureDevice(mapper, nullptr, kToneCaptureName, kToneFrequency); })
        .Do([&] {
            return RegisterCaptureDevice(mapper, kSecondToneCaptureInstance, kSecondToneCaptureName,
                                         kSecondToneFrequency);
        });
    const REGPINTYPES pcm = {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM};
    for (const CompressorClass& compressor : kCompressors) {
        const GUID subtype = SubtypeOfTag(compressor.tag);
        const REGPINTYPES output = {&MEDIATYPE_Audio, &subtype};
        const REGFILTERPINS pins[2] = {
            {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, &pcm},
            {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 1, &output}};
        steps.Do([&] {
            return RegisterInCategory(mapper, *compressor.clsid, compressor.name, CLSID_AudioCompressorCategory, pins, 2);
        });
    }
    return hr;
}

HRESULT CRegistration::Unregister()
{
    HRESULT hr = S_OK;
    COM::TPtr<IFilterMapper2> mapper;
    const HRESULT created = CreateMapper(mapper);
    CTearDown teardown(hr);
    if (SUCCEEDED(created)) {
        teardown.Do([&] { return mapper->UnregisterFilter(&CLSID_AudioInputDeviceCategory, nullptr, CLSID_ToneCapture); });
        teardown.Do([&] {
            return mapper->UnregisterFilter(&CLSID_AudioInputDeviceCategory, kSecondToneCaptureInstance,
                                            CLSID_ToneCapture);
        });
        for (const CompressorClass& compressor : kCompressors)
            teardown.Do([&] {
                return mapper->UnregisterFilter(&CLSID_AudioCompressorCategory, nullptr, *compressor.clsid);
            });
    } else {
        teardown.Do([&] { return created; });
    }
    for (const CLSID* clsid : kClasses)
        teardown.Do([&] { return UnregisterClassKey(*clsid); });
    for (const CompressorClass& compressor : kCompressors)
        teardown.Do([&] { return UnregisterClassKey(*compressor.clsid); });
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CRegistration::AddDevice(const wchar_t* instance, const wchar_t* name, double frequency)
{
    if (instance == nullptr || name == nullptr || ::IsBadStringPtrW(instance, 256) || ::IsBadStringPtrW(name, 256))
        return E_POINTER;
    if (instance[0] == L'\0' || name[0] == L'\0' || !(frequency > 0.0 && frequency < 4000.0))
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    COM::TPtr<IFilterMapper2> mapper;
    CStepSequence(hr)
        .Do([&] { return CreateMapper(mapper); })
        .Do([&] { return RegisterCaptureDevice(mapper, instance, name, frequency); });
    return hr;
}

HRESULT CRegistration::RemoveDevice(const wchar_t* instance)
{
    return UnregisterInstance(CLSID_AudioInputDeviceCategory, instance, CLSID_ToneCapture);
}

HRESULT CRegistration::AddRendererDevice(const wchar_t* instance, const wchar_t* name, const wchar_t* waveOut)
{
    if (instance == nullptr || name == nullptr || waveOut == nullptr || ::IsBadStringPtrW(instance, 256)
        || ::IsBadStringPtrW(name, 256) || ::IsBadStringPtrW(waveOut, 256))
        return E_POINTER;
    if (instance[0] == L'\0' || name[0] == L'\0' || waveOut[0] == L'\0')
        return E_INVALIDARG;
    const REGPINTYPES pcm = {&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM};
    const REGFILTERPINS pin = {const_cast<LPWSTR>(L"Audio Input"), TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, &pcm};
    REGFILTER2 filter = {};
    filter.dwVersion = 1;
    filter.dwMerit = MERIT_DO_NOT_USE;
    filter.cPins = 1;
    filter.rgPins = &pin;
    COM::TPtr<IFilterMapper2> mapper;
    COM::TPtr<IMoniker> moniker;
    COM::TPtr<IPropertyBag> bag;
    VARIANT device;
    ::VariantInit(&device);
    HRESULT hr = S_OK;
    CStepSequence(hr)
        .Do([&] {
            device.vt = VT_BSTR;
            device.bstrVal = ::SysAllocString(waveOut);
            return device.bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
        })
        .Do([&] { return CreateMapper(mapper); })
        .Do([&] {
            return mapper->RegisterFilter(CLSID_WaveOutRenderer, name, &moniker, &CLSID_AudioRendererCategory,
                                          instance, &filter);
        })
        .Do([&] { return moniker.IsNull() ? E_UNEXPECTED : S_OK; })
        .Do([&] { return moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)); })
        .Do([&] { return bag->Write(kWaveOutNameProperty, &device); });
    ::VariantClear(&device);
    return hr;
}

HRESULT CRegistration::RemoveRendererDevice(const wchar_t* instance)
{
    return UnregisterInstance(CLSID_AudioRendererCategory, instance, CLSID_WaveOutRenderer);
}

HRESULT CRegistration::RegisterRenderer()
{
    WCHAR modulePath[MAX_PATH];
    if (::GetModuleFileNameW(m_module, modulePath, MAX_PATH) == 0)
        return Win32::ResultFromLastError();
    HRESULT hr = S_OK;
    COM::TPtr<IFilterMapper2> mapper;
    const REGPINTYPES audio = {&MEDIATYPE_Audio, &GUID_NULL};
    const REGFILTERPINS pin = {const_cast<LPWSTR>(L"Audio Input"), TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, &audio};
    CStepSequence(hr)
        .Do([&] { return RegisterClassKey(CLSID_FailingRenderer, kFailingRendererName, modulePath); })
        .Do([&] { return CreateMapper(mapper); })
        .Do([&] {
            return RegisterInCategory(mapper, CLSID_FailingRenderer, kFailingRendererName,
                                      CLSID_LegacyAmFilterCategory, &pin, 1, MERIT_PREFERRED + 0x1000);
        });
    return hr;
}

HRESULT CRegistration::UnregisterRenderer()
{
    HRESULT hr = S_OK;
    COM::TPtr<IFilterMapper2> mapper;
    const HRESULT created = CreateMapper(mapper);
    CTearDown teardown(hr);
    teardown.Do([&] {
        return SUCCEEDED(created) ? mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, CLSID_FailingRenderer)
                                  : created;
    });
    teardown.Do([&] { return UnregisterClassKey(CLSID_FailingRenderer); });
    return FAILED(hr) ? hr : S_OK;
}

} // namespace CapturePlatform
