#include "tone_capture_filter.h"

#include "capture_platform.h"
#include "tone_capture_options.h"

#include <evcode.h>
#include <uuids.h>

#include <cstring>
#include <cwchar>

namespace CapturePlatform {

namespace {

// Treble and bass are kept within this many decibels either way.
constexpr double kToneControlRange = 12.0;

// IAMResourceControl::Reserve flags (AMRESOURCE_RESERVE / AMRESOURCE_UNRESERVE, which the
// cross-compiler's headers lack).
constexpr DWORD kReserve = 0;
constexpr DWORD kUnreserve = 1;

CRITICAL_SECTION* NewestLock()
{
    static CRITICAL_SECTION lock;
    static const bool initialised = (::InitializeCriticalSection(&lock), true);
    (void)initialised;
    return &lock;
}

CToneCaptureFilter* g_newest = nullptr; // guarded by NewestLock()

bool CanWrite(const void* p, UINT_PTR bytes)
{
    return p != nullptr && !::IsBadWritePtr(const_cast<void*>(p), bytes);
}

} // namespace

CToneCaptureRecords::CToneCaptureRecords()
    : m_typeRecord{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM},
      m_pinRecord{const_cast<LPWSTR>(L"Capture"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 1, &m_typeRecord},
      m_filterRecord{&CLSID_ToneCapture, kToneCaptureName, MERIT_DO_NOT_USE, 1, &m_pinRecord}
{
}

COM::CUnknown* CToneCaptureFilter::CreateInstance(IUnknown* outer, HRESULT* result)
{
    // Never aggregated: the class factory refuses an outer object first.
    (void)outer;
    return new CToneCaptureFilter(result);
}

CToneCaptureFilter::CToneCaptureFilter(HRESULT* result)
    : CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_pin = new CToneCapturePin(this, &m_pinRecord, CaptureOptions::FromEnvironment(), result);
    if (m_pin == nullptr) {
        *result = E_OUTOFMEMORY;
        return;
    }
    ::EnterCriticalSection(NewestLock());
    g_newest = this;
    ::LeaveCriticalSection(NewestLock());
}

CToneCaptureFilter::~CToneCaptureFilter()
{
    ::EnterCriticalSection(NewestLock());
    if (g_newest == this)
        g_newest = nullptr;
    ::LeaveCriticalSection(NewestLock());
    delete static_cast<COM::CUnknown*>(m_pin);
}

CToneCaptureFilter* CToneCaptureFilter::Newest()
{
    ::EnterCriticalSection(NewestLock());
    CToneCaptureFilter* const filter = g_newest;
    if (filter != nullptr)
        filter->NonDelegatingAddRef();
    ::LeaveCriticalSection(NewestLock());
    return filter;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadReadPtr(ppv, sizeof(*ppv)) || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IAMResourceControl) {
        *ppv = static_cast<IAMResourceControl*>(this);
        return COM::GetInterface(static_cast<IAMResourceControl*>(this), ppv);
    }
    if (riid == IID_IAMAudioInputMixer) {
        *ppv = static_cast<IAMAudioInputMixer*>(this);
        return COM::GetInterface(static_cast<IAMAudioInputMixer*>(this), ppv);
    }
    if (riid == IID_IPersistPropertyBag) {
        *ppv = static_cast<IPersistPropertyBag*>(this);
        return COM::GetInterface(static_cast<IPersistPropertyBag*>(this), ppv);
    }
    if (riid == IID_IAMFilterMiscFlags) {
        *ppv = static_cast<IAMFilterMiscFlags*>(this);
        return COM::GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::GetClassID(CLSID* classId)
{
    return CBaseFilter::GetClassID(classId);
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped && m_pin != nullptr && m_pin->IsConnected())
        hr = m_pin->Inactive();
    m_state = State_Stopped;
    return hr;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::GetState(DWORD milliSecondsTimeout, FILTER_STATE* state)
{
    const HRESULT hr = CBaseFilter::GetState(milliSecondsTimeout, state);
    return hr == S_OK && *state == State_Paused ? VFW_S_CANT_CUE : hr;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::QueryVendorInfo(LPWSTR* vendorInfo)
{
    if (!CanWrite(vendorInfo, sizeof(*vendorInfo)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_filterLock);
    const wchar_t* const text = m_deviceName[0] != L'\0' ? m_deviceName : kToneCaptureName;
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    *vendorInfo = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (*vendorInfo == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(*vendorInfo, text, bytes);
    return S_OK;
}

// --- IAMResourceControl -----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::Reserve(DWORD dwFlags, PVOID pvReserved)
{
    if (pvReserved != nullptr)
        return E_INVALIDARG;
    Synchronization::CAutoLock lock(&m_filterLock);
    switch (dwFlags) {
    case kReserve:
        ++m_reservations;
        return S_OK;
    case kUnreserve:
        if (m_reservations == 0)
            return S_FALSE;
        --m_reservations;
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

// --- IAMAudioInputMixer -----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::put_Enable(BOOL fEnable)
{
    Synchronization::CAutoLock lock(&m_filterLock);
    m_enable = fEnable ? TRUE : FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_Enable(BOOL* pfEnable)
{
    if (!CanWrite(pfEnable, sizeof(*pfEnable)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_filterLock);
    *pfEnable = m_enable;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::put_Mono(BOOL fMono)
{
    Synchronization::CAutoLock lock(&m_filterLock);
    m_mono = fMono ? TRUE : FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_Mono(BOOL* pfMono)
{
    if (!CanWrite(pfMono, sizeof(*pfMono)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_filterLock);
    *pfMono = m_mono;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::put_MixLevel(double Level)
{
    // 0 to 1, or automatic gain control.
    if (Level != AMF_AUTOMATICGAIN && !(Level >= 0.0 && Level <= 1.0))
        return E_INVALIDARG;
    Synchronization::CAutoLock lock(&m_filterLock);
    m_mixLevel = Level;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_MixLevel(double* pLevel)
{
    if (!CanWrite(pLevel, sizeof(*pLevel)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_filterLock);
    *pLevel = m_mixLevel;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::put_Pan(double Pan)
{
    if (!(Pan >= -1.0 && Pan <= 1.0))
        return E_INVALIDARG;
    Synchronization::CAutoLock lock(&m_filterLock);
    m_pan = Pan;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_Pan(double* pPan)
{
    if (!CanWrite(pPan, sizeof(*pPan)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_filterLock);
    *pPan = m_pan;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::put_Loudness(BOOL fLoudness)
{
    Synchronization::CAutoLock lock(&m_filterLock);
    m_loudness = fLoudness ? TRUE : FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_Loudness(BOOL* pfLoudness)
{
    if (!CanWrite(pfLoudness, sizeof(*pfLoudness)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_filterLock);
    *pfLoudness = m_loudness;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::put_Treble(double Treble)
{
    if (!(Treble >= -kToneControlRange && Treble <= kToneControlRange))
        return E_INVALIDARG;
    Synchronization::CAutoLock lock(&m_filterLock);
    m_treble = Treble;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_Treble(double* pTreble)
{
    if (!CanWrite(pTreble, sizeof(*pTreble)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_filterLock);
    *pTreble = m_treble;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_TrebleRange(double* pRange)
{
    if (!CanWrite(pRange, sizeof(*pRange)))
        return E_POINTER;
    *pRange = kToneControlRange;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::put_Bass(double Bass)
{
    if (!(Bass >= -kToneControlRange && Bass <= kToneControlRange))
        return E_INVALIDARG;
    Synchronization::CAutoLock lock(&m_filterLock);
    m_bass = Bass;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_Bass(double* pBass)
{
    if (!CanWrite(pBass, sizeof(*pBass)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_filterLock);
    *pBass = m_bass;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::get_BassRange(double* pRange)
{
    if (!CanWrite(pRange, sizeof(*pRange)))
        return E_POINTER;
    *pRange = kToneControlRange;
    return S_OK;
}

// --- IPersistPropertyBag ----------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::InitNew()
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog)
{
    if (pPropBag == nullptr || ::IsBadReadPtr(pPropBag, sizeof(void*)))
        return E_POINTER;
    VARIANT name;
    ::VariantInit(&name);
    name.vt = VT_BSTR;
    // A bag without a name is still a device's bag: the default name stays.
    if (SUCCEEDED(pPropBag->Read(L"FriendlyName", &name, pErrorLog)) && name.vt == VT_BSTR && name.bstrVal != nullptr) {
        Synchronization::CAutoLock lock(&m_filterLock);
        ::lstrcpynW(m_deviceName, name.bstrVal, NameLength);
    }
    ::VariantClear(&name);
    // Likewise the tone: without a frequency of its own, the device records the default one.
    VARIANT frequency;
    ::VariantInit(&frequency);
    frequency.vt = VT_I4;
    HRESULT hr = S_OK;
    if (SUCCEEDED(pPropBag->Read(kToneFrequencyProperty, &frequency, pErrorLog)) && frequency.vt == VT_I4) {
        Synchronization::CAutoLock lock(&m_filterLock);
        hr = m_pin->SetToneFrequency(frequency.lVal);
    }
    ::VariantClear(&frequency);
    return hr;
}

HRESULT STDMETHODCALLTYPE CToneCaptureFilter::Save(IPropertyBag*, BOOL, BOOL)
{
    return E_NOTIMPL;
}

// --- IAMFilterMiscFlags -----------------------------------------------------------------------------

ULONG STDMETHODCALLTYPE CToneCaptureFilter::GetMiscFlags()
{
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

// --- device loss ------------------------------------------------------------------------------------

HRESULT CToneCaptureFilter::LoseDevice()
{
    ::InterlockedExchange(&m_lost, 1);
    // The graph is told without the filter lock held: its event queue has locks of its own.
    COM::TPtr<IMediaEventSink> sink;
    {
        Synchronization::CAutoLock lock(&m_filterLock);
        sink = m_eventSink;
    }
    if (sink.IsNull())
        return VFW_E_NOT_IN_GRAPH;
    return sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(GetOwner()), 0);
}

} // namespace CapturePlatform
