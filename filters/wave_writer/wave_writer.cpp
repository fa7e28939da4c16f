#include "filters/wave_writer/wave_writer.h"

#include "stdax/media_type_operations.h"

#include <mmreg.h>
#include <uuids.h>

namespace WaveWriter {

const CLSID CLSID_WaveWriter = {0x8a5844ad, 0xc5f6, 0x4f70, {0xa0, 0x17, 0xcc, 0x2c, 0x80, 0x04, 0xa4, 0x5c}};

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes[1] = {{&MEDIATYPE_Audio, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[1] = {
    {const_cast<LPWSTR>(L"Input"), TRUE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, kPinTypes}};
const AMOVIESETUP_FILTER kSetup = {&CLSID_WaveWriter, L"WaveWriter", MERIT_DO_NOT_USE, 1, kPins};

} // namespace

COM::CUnknown* CFilter::Create(IUnknown* outer, HRESULT* result)
{
    return new CFilter(outer, result);
}

HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    return COM::CreateObject(&CFilter::Create, outer, riid, ppv);
}

CFilter::CFilter(IUnknown* outer, HRESULT* result)
    : CFilterLocks(), CBaseFilter(&kSetup, outer, &m_filterLock, result), IFileSinkFilter2Impl(),
      IMediaSeekingPassThruImpl(), m_pin(nullptr), m_file()
{
    if (FAILED(*result))
        return;
    m_pin = new CInputPin(this, &kPins[0], result);
    if (m_pin == nullptr && SUCCEEDED(*result))
        *result = E_OUTOFMEMORY;
    if (m_pin != nullptr)
        SetSeekingPin(m_pin->PinInterface());
}

CFilter::~CFilter()
{
    delete static_cast<COM::CUnknown*>(m_pin);
    m_file.Close();
}

HRESULT STDMETHODCALLTYPE CFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IFileSinkFilter || riid == IID_IFileSinkFilter2) {
        *ppv = static_cast<IFileSinkFilter2*>(this);
        return COM::GetInterface(static_cast<IFileSinkFilter2*>(this), ppv);
    }
    if (riid == IID_IMediaSeeking) {
        *ppv = static_cast<IMediaSeeking*>(this);
        return COM::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    }
    if (riid == IID_IByteTapTarget) {
        *ppv = static_cast<IByteTapTarget*>(this);
        return COM::GetInterface(static_cast<IByteTapTarget*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CFilter::SetByteTap(IByteTap* tap)
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state != State_Stopped)
        return VFW_E_NOT_STOPPED;
    m_tap = tap;
    return S_OK;
}

stdax::CBasePin* CFilter::GetPin(int n)
{
    return n == 0 ? m_pin : nullptr;
}

HRESULT CFilter::OpenFile()
{
    AM_MEDIA_TYPE type = {};
    HRESULT hr = m_pin->PinInterface()->ConnectionMediaType(&type);
    if (FAILED(hr))
        return hr;
    if (type.formattype != FORMAT_WaveFormatEx) {
        hr = VFW_E_UNSUPPORTED_AUDIO;
    } else if (type.cbFormat < sizeof(WAVEFORMATEX) || type.pbFormat == nullptr) {
        hr = VFW_E_INVALID_MEDIA_TYPE;
    } else {
        WCHAR name[FileNameLength];
        hr = CopyFileName(name, FileNameLength);
        if (FAILED(hr)) {
            hr = E_FAIL;
        } else {
            hr = m_file.OpenForWrite(name, reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat), type.cbFormat);
            // A format that announces more extra bytes than its block holds.
            if (hr == E_INVALIDARG)
                hr = VFW_E_INVALID_MEDIA_TYPE;
        }
    }
    stdax::FreeMediaTypeContents(&type);
    return hr;
}

HRESULT STDMETHODCALLTYPE CFilter::Pause()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state == State_Paused)
        return S_OK;
    if (m_pin == nullptr || !m_pin->IsConnected()) {
        m_state = State_Paused;
        return S_OK;
    }
    if (m_state == State_Running)
        return CBaseFilter::Pause();
    {
        Synchronization::CAutoLock receive(&m_receiveLock);
        const HRESULT hr = OpenFile();
        if (FAILED(hr))
            return hr;
    }
    const HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) {
        // Still Stopped: no file stays open behind it.
        Synchronization::CAutoLock receive(&m_receiveLock);
        m_file.Close();
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state == State_Stopped)
        return S_OK;
    if (m_pin != nullptr)
        m_pin->Inactive();
    Synchronization::CAutoLock receive(&m_receiveLock);
    const HRESULT hr = m_file.Close();
    m_state = State_Stopped;
    return hr;
}

} // namespace WaveWriter
