// The module's exports: the COM server entry points and the tone capture device's test hook.
#include "acm_compressor.h"
#include "capture_platform.h"
#include "class_factory.h"
#include "failing_renderer.h"
#include "wave_out_renderer.h"
#include "inf_tee.h"
#include "registration.h"
#include "tone_capture_filter.h"

#include <windows.h>
#include <uuids.h>

namespace {

using namespace CapturePlatform;

HMODULE g_module = nullptr;

CClassFactory g_factories[] = {
    {&CLSID_ToneCapture, &CToneCaptureFilter::CreateInstance},
    {&CLSID_InfTee, &CInfTee::CreateInstance},
    {&CLSID_FailingRenderer, &CFailingRenderer::CreateInstance},
    {&CLSID_WaveOutRenderer, &CWaveOutRenderer::CreateInstance},
    {kCompressors[0].clsid, &CAcmCompressor::CreateInstance<WAVE_FORMAT_PCM>},
    {kCompressors[1].clsid, &CAcmCompressor::CreateInstance<WAVE_FORMAT_IMA_ADPCM>},
    {kCompressors[2].clsid, &CAcmCompressor::CreateInstance<WAVE_FORMAT_GSM610>},
    {kCompressors[3].clsid, &CAcmCompressor::CreateInstance<WAVE_FORMAT_ALAW>},
    {kCompressors[4].clsid, &CAcmCompressor::CreateInstance<WAVE_FORMAT_MULAW>},
};

// Registration runs in regsvr32, which has not initialised COM for us.
class CComForCall {
public:
    CComForCall() : m_result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~CComForCall()
    {
        if (SUCCEEDED(m_result))
            ::CoUninitialize();
    }

private:
    HRESULT m_result;
};

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID riid, void** ppv)
{
    for (CClassFactory& factory : g_factories) {
        if (factory.ClassId() == classId)
            return factory.QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Stays loaded: filters may outlive any count we could keep of them in a test.
__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer()
{
    CComForCall com;
    return CRegistration(g_module).Register();
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer()
{
    CComForCall com;
    return CRegistration(g_module).Unregister();
}

__declspec(dllexport) HRESULT WINAPI ToneCapture_LoseDevice()
{
    CToneCaptureFilter* const filter = CToneCaptureFilter::Newest();
    if (filter == nullptr)
        return E_UNEXPECTED;
    const HRESULT hr = filter->LoseDevice();
    filter->NonDelegatingRelease();
    return hr;
}

__declspec(dllexport) HRESULT WINAPI TestRenderer_FailStart(HRESULT failure)
{
    CComForCall com;
    CFailingRenderer::SetFailure(failure);
    return FAILED(failure) ? CRegistration(g_module).RegisterRenderer() : CRegistration(g_module).UnregisterRenderer();
}

__declspec(dllexport) HRESULT WINAPI TestRenderer_AddWaveOutDevice(const wchar_t* instance, const wchar_t* name,
                                                                  const wchar_t* waveOut)
{
    CComForCall com;
    return CRegistration(g_module).AddRendererDevice(instance, name, waveOut);
}

__declspec(dllexport) HRESULT WINAPI TestRenderer_RemoveWaveOutDevice(const wchar_t* instance)
{
    CComForCall com;
    return CRegistration(g_module).RemoveRendererDevice(instance);
}

__declspec(dllexport) HRESULT WINAPI ToneCapture_AddDevice(const wchar_t* instance, const wchar_t* name,
                                                          double frequency)
{
    CComForCall com;
    return CRegistration(g_module).AddDevice(instance, name, frequency);
}

__declspec(dllexport) HRESULT WINAPI ToneCapture_RemoveDevice(const wchar_t* instance)
{
    CComForCall com;
    return CRegistration(g_module).RemoveDevice(instance);
}

__declspec(dllexport) HRESULT WINAPI ToneCapture_FailNextStart(HRESULT failure)
{
    FailNextStart(failure);
    return S_OK;
}

} // extern "C"
