#pragma once
// The tone capture device: a live audio source filter with one capture pin (see tone_capture_pin.h),
// created through its moniker in CLSID_AudioInputDeviceCategory.
//
// On the filter: IAMResourceControl (Reserve / Unreserve counted), IAMAudioInputMixer (its settings
// are stored and read back; they do not change the signal), IPersistPropertyBag (the device
// enumerator loads the moniker's property bag; the friendly name found there becomes the vendor
// information, and its ToneFrequency, in Hz, the tone the device records; E_INVALIDARG for a frequency
// the device cannot record), IAMFilterMiscFlags (a source). How it behaves when its streaming thread
// falls behind is read from the environment when it is created (tone_capture_options.h). Paused, it reports VFW_S_CANT_CUE as live sources do.
//
// Device loss: LoseDevice stops the delivery of data and posts EC_DEVICE_LOST into the graph.
#include "tone_capture_pin.h"

#include "stdax/base_filter.h"
#include "support/critical_section.h"

#include <windows.h>
#include <ocidl.h>
#include <strmif.h>

namespace CapturePlatform {

// The filter lock and the setup records, built before the base filter that checks them.
struct CToneCaptureRecords {
    CToneCaptureRecords();

    Synchronization::CCriticalSection m_filterLock;
    AMOVIESETUP_MEDIATYPE m_typeRecord;
    AMOVIESETUP_PIN m_pinRecord;
    AMOVIESETUP_FILTER m_filterRecord;
};

class CToneCaptureFilter : private CToneCaptureRecords,
                           public stdax::CBaseFilter,
                           public IAMResourceControl,
                           public IAMAudioInputMixer,
                           public IPersistPropertyBag,
                           public IAMFilterMiscFlags {
public:
    // For the class factory.
    static COM::CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    ~CToneCaptureFilter() override;

    COM_FORWARD_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return m_pin != nullptr ? 1 : 0; }
    stdax::CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }

    // IPersist through IBaseFilter and IPersistPropertyBag alike.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    // VFW_S_CANT_CUE while paused: a live source has no data to show before it runs.
    HRESULT STDMETHODCALLTYPE GetState(DWORD milliSecondsTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) override;

    // IAMResourceControl
    HRESULT STDMETHODCALLTYPE Reserve(DWORD dwFlags, PVOID pvReserved) override;

    // IAMAudioInputMixer
    HRESULT STDMETHODCALLTYPE put_Enable(BOOL fEnable) override;
    HRESULT STDMETHODCALLTYPE get_Enable(BOOL* pfEnable) override;
    HRESULT STDMETHODCALLTYPE put_Mono(BOOL fMono) override;
    HRESULT STDMETHODCALLTYPE get_Mono(BOOL* pfMono) override;
    HRESULT STDMETHODCALLTYPE put_MixLevel(double Level) override;
    HRESULT STDMETHODCALLTYPE get_MixLevel(double* pLevel) override;
    HRESULT STDMETHODCALLTYPE put_Pan(double Pan) override;
    HRESULT STDMETHODCALLTYPE get_Pan(double* pPan) override;
    HRESULT STDMETHODCALLTYPE put_Loudness(BOOL fLoudness) override;
    HRESULT STDMETHODCALLTYPE get_Loudness(BOOL* pfLoudness) override;
    HRESULT STDMETHODCALLTYPE put_Treble(double Treble) override;
    HRESULT STDMETHODCALLTYPE get_Treble(double* pTreble) override;
    HRESULT STDMETHODCALLTYPE get_TrebleRange(double* pRange) override;
    HRESULT STDMETHODCALLTYPE put_Bass(double Bass) override;
    HRESULT STDMETHODCALLTYPE get_Bass(double* pBass) override;
    HRESULT STDMETHODCALLTYPE get_BassRange(double* pRange) override;

    // IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) override;

    // IAMFilterMiscFlags
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;

    // The device goes away (see ToneCapture_LoseDevice).
    HRESULT LoseDevice();
    bool IsDeviceLost() const { return m_lost != 0; }

    // The newest live filter with a reference of its own, or null.
    static CToneCaptureFilter* Newest();

private:
    explicit CToneCaptureFilter(HRESULT* result);

    CToneCapturePin* m_pin = nullptr;
    volatile LONG m_lost = 0;
    // Guarded by the filter lock.
    LONG m_reservations = 0;
    BOOL m_enable = TRUE;
    BOOL m_mono = TRUE;
    BOOL m_loudness = FALSE;
    double m_mixLevel = 1.0;
    double m_pan = 0.0;
    double m_treble = 0.0;
    double m_bass = 0.0;
    WCHAR m_deviceName[NameLength] = {};
};

} // namespace CapturePlatform
