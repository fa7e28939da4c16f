#include "filters/stream_sink/stream_sink.h"

#include "stdax/media_sample_properties.h"

#include <mmreg.h>
#include <uuids.h>

#include <cstring>

namespace StreamSink {

namespace {

// {6B0E93A2-41D7-4C8F-B5E3-0A9D27C4F168}
const CLSID CLSID_StreamSink = {0x6b0e93a2, 0x41d7, 0x4c8f, {0xb5, 0xe3, 0x0a, 0x9d, 0x27, 0xc4, 0xf1, 0x68}};
const AMOVIESETUP_MEDIATYPE kPinTypes[2] = {{&MEDIATYPE_Stream, &GUID_NULL}, {&MEDIATYPE_Audio, &GUID_NULL}};
const AMOVIESETUP_PIN kPins[1] = {
    {const_cast<LPWSTR>(L"Input"), TRUE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 2, kPinTypes}};
const AMOVIESETUP_FILTER kSetup = {&CLSID_StreamSink, L"StreamSink", MERIT_DO_NOT_USE, 1, kPins};

} // namespace

// --- pin ----------------------------------------------------------------------------------------------

CInputPin::CInputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CRenderedInputPin(filter, filter != nullptr ? filter->Lock() : nullptr, setup, nullptr, result), m_owner(filter)
{
}

HRESULT STDMETHODCALLTYPE CInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IStream || riid == IID_ISequentialStream) {
        *ppv = static_cast<IStream*>(this);
        return COM::GetInterface(static_cast<IStream*>(this), ppv);
    }
    return CRenderedInputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CInputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return E_POINTER;
    if (pmt->majortype == MEDIATYPE_Stream)
        return S_OK;
    if (pmt->majortype != MEDIATYPE_Audio || pmt->formattype != FORMAT_WaveFormatEx ||
        pmt->cbFormat < sizeof(WAVEFORMATEX) || pmt->pbFormat == nullptr)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // MP3 comes as a byte stream, so that the encoder writes its last frames at stop.
    const WORD tag = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat)->wFormatTag;
    return tag == WAVE_FORMAT_MPEGLAYER3 ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::EndOfStream()
{
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    return CRenderedInputPin::EndOfStream();
}

HRESULT STDMETHODCALLTYPE CInputPin::BeginFlush()
{
    Synchronization::CAutoLock lock(m_owner->Lock());
    CRenderedInputPin::BeginFlush();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::EndFlush()
{
    Synchronization::CAutoLock lock(m_owner->Lock());
    return CRenderedInputPin::EndFlush();
}

HRESULT STDMETHODCALLTYPE CInputPin::Receive(IMediaSample* pSample)
{
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    HRESULT hr = CRenderedInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    BYTE* data = nullptr;
    hr = pSample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    const LONG length = pSample->GetActualDataLength();
    if (length <= 0)
        return S_OK;
    if (length > pSample->GetSize())
        return VFW_E_BUFFER_OVERFLOW;
    IByteTap* const tap = m_owner->Tap();
    if (tap != nullptr && ConnectionType().majortype != MEDIATYPE_Stream)
        tap->Write(data, static_cast<ULONG>(length));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::Read(void*, ULONG, ULONG* read)
{
    if (read != nullptr)
        *read = 0;
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE CInputPin::Write(const void* data, ULONG size, ULONG* written)
{
    if (data == nullptr && size != 0)
        return STG_E_INVALIDPOINTER;
    m_position += size;
    if (m_position > m_size)
        m_size = m_position;
    if (written != nullptr)
        *written = size;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position)
{
    LONGLONG base = 0;
    if (origin == STREAM_SEEK_CUR)
        base = static_cast<LONGLONG>(m_position);
    else if (origin == STREAM_SEEK_END)
        base = static_cast<LONGLONG>(m_size);
    else if (origin != STREAM_SEEK_SET)
        return STG_E_INVALIDFUNCTION;
    if (base + move.QuadPart < 0)
        return STG_E_INVALIDFUNCTION;
    m_position = static_cast<ULONGLONG>(base + move.QuadPart);
    if (position != nullptr)
        position->QuadPart = m_position;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::Stat(STATSTG* stat, DWORD)
{
    if (stat == nullptr)
        return STG_E_INVALIDPOINTER;
    std::memset(stat, 0, sizeof(*stat));
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = m_size;
    return S_OK;
}

// --- filter -------------------------------------------------------------------------------------------

COM::CUnknown* CFilter::Create(IUnknown* outer, HRESULT* result)
{
    return new CFilter(outer, result);
}

HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    return COM::CreateObject(&CFilter::Create, outer, riid, ppv);
}

CFilter::CFilter(IUnknown* outer, HRESULT* result) : CFilterLocks(), CBaseFilter(&kSetup, outer, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_pin = new CInputPin(this, &kPins[0], result);
    if (m_pin == nullptr && SUCCEEDED(*result))
        *result = E_OUTOFMEMORY;
}

CFilter::~CFilter()
{
    delete static_cast<COM::CUnknown*>(m_pin);
}

HRESULT STDMETHODCALLTYPE CFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IByteTapTarget) {
        *ppv = static_cast<IByteTapTarget*>(this);
        return COM::GetInterface(static_cast<IByteTapTarget*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

stdax::CBasePin* CFilter::GetPin(int n)
{
    return n == 0 ? m_pin : nullptr;
}

HRESULT STDMETHODCALLTYPE CFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state == State_Stopped)
        return S_OK;
    if (m_pin != nullptr)
        m_pin->Inactive();
    Synchronization::CAutoLock receive(&m_receiveLock);
    m_state = State_Stopped;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFilter::SetByteTap(IByteTap* tap)
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state != State_Stopped)
        return VFW_E_NOT_STOPPED;
    m_tap = tap;
    return S_OK;
}

} // namespace StreamSink
