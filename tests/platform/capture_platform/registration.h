#pragma once
// CRegistration: what DllRegisterServer writes into the prefix and DllUnregisterServer removes.
//
//   - every class of the module under HKCR\CLSID (InprocServer32 = the module, ThreadingModel Both);
//   - the two tone capture devices in CLSID_AudioInputDeviceCategory through the filter mapper (the
//     first under its CLSID string as instance key, the second under its own instance name; the key
//     decides the place among the registered devices), each with its tone's ToneFrequency in its bag;
//   - each compressor in CLSID_AudioCompressorCategory through the filter mapper, with an input pin
//     Audio / PCM and an output pin Audio / the tag's subtype. The filter mapper's type search covers
//     that category, so EnumMatchingFilters finds it under the same friendly name.
// The infinite tee needs only its class key. Registering again overwrites the same keys.
#include <windows.h>
#include <strmif.h>

namespace CapturePlatform {

class CRegistration {
public:
    explicit CRegistration(HMODULE module) : m_module(module) {}

    HRESULT Register();
    HRESULT Unregister();
    // The failing renderer: its class key and an entry among the DirectShow filters with an audio
    // input pin and a merit above the platform's renderers; removed again by UnregisterRenderer.
    HRESULT RegisterRenderer();
    HRESULT UnregisterRenderer();
    // A tone capture device of the test's own in the audio input category under the instance name (its
    // place among the devices), with that friendly name and tone; removed again by RemoveDevice.
    HRESULT AddDevice(const wchar_t* instance, const wchar_t* name, double frequency);
    HRESULT RemoveDevice(const wchar_t* instance);
    // Lists the waveOut renderer among the audio renderers under the instance key, with that friendly
    // name, playing on the waveOut device named (see TestRenderer_AddWaveOutDevice).
    HRESULT AddRendererDevice(const wchar_t* instance, const wchar_t* name, const wchar_t* waveOut);
    HRESULT RemoveRendererDevice(const wchar_t* instance);

private:
    HRESULT RegisterClassKey(const CLSID& clsid, const wchar_t* name, const wchar_t* modulePath);
    HRESULT UnregisterClassKey(const CLSID& clsid);
    HRESULT RegisterCaptureDevice(IFilterMapper2* mapper, const wchar_t* instance, const wchar_t* name,
                                  double frequency);
    HRESULT RegisterInCategory(IFilterMapper2* mapper, const CLSID& clsid, const wchar_t* name, const CLSID& category,
                               const REGFILTERPINS* pins, ULONG pinCount, DWORD merit = MERIT_DO_NOT_USE);

    HMODULE m_module;
};

} // namespace CapturePlatform
