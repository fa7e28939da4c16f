#include "filters/mpeg2_audio_encoder/input_pin.h"

#include "filters/mpeg2_audio_encoder/filter.h"
#include "stdax/media_type_operations.h"
#include "support/library_logs.h"
#include "support/trace_log.h"

#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>

namespace MPEG2AudioEncoder {

namespace {

unsigned Address(const void* pointer)
{
    return static_cast<unsigned>(reinterpret_cast<UINT_PTR>(pointer));
}

} // namespace

CInputPin::CInputPin(CFilter* filter, HRESULT* result)
    : CBaseInputPin(filter, filter->FilterLock(), PinSetupData(0), nullptr, result), m_owner(filter)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::CInputPin");
    scope.BeginNoResult();
}

CInputPin::~CInputPin() = default;

HRESULT CInputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::CheckMediaType");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    hr = CBaseInputPin::CheckMediaType(pmt);
    if (hr != S_OK)
        return hr;
    if (pmt->bTemporalCompression || pmt->formattype != FORMAT_WaveFormatEx)
        return hr = VFW_E_UNSUPPORTED_AUDIO;
    if (pmt->cbFormat < sizeof(WAVEFORMATEX) || pmt->pbFormat == nullptr)
        return hr = VFW_E_INVALID_MEDIA_TYPE;
    return hr = m_owner->EncoderInterface()->CheckInputType(reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat));
}

HRESULT CInputPin::SetMediaType(const AM_MEDIA_TYPE* pmt)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::SetMediaType");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (m_owner == nullptr)
        return hr = E_UNEXPECTED;
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return hr = E_POINTER;
    return hr = m_owner->EncoderInterface()->SetInputType(reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat));
}

HRESULT CInputPin::CheckStreaming()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::CheckStreaming");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (m_owner->OutputPin() == nullptr || !m_owner->OutputPin()->IsConnected())
        return hr = VFW_E_NOT_CONNECTED;
    return hr = CBaseInputPin::CheckStreaming();
}

HRESULT STDMETHODCALLTYPE CInputPin::Receive(IMediaSample* pSample)
{
    Synchronization::CAutoLock lock(&m_receiveLock);
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::Receive");
    HRESULT hr = S_OK;
    scope.Begin(&hr, L"0x%08X", Address(pSample));
    hr = CBaseInputPin::Receive(pSample);
    if (hr == S_OK)
        hr = RefuseFormatChange(pSample);
    if (hr == S_OK)
        hr = m_owner->Receive(pSample);
    return hr;
}

HRESULT CInputPin::RefuseFormatChange(IMediaSample* pSample)
{
    AM_MEDIA_TYPE* type = nullptr;
    if (pSample->GetMediaType(&type) != S_OK || type == nullptr)
        return S_OK;
    // The encoder was opened for the connection's format: only that same format may be announced.
    WAVEFORMATEX current = {};
    const bool same = type->formattype == FORMAT_WaveFormatEx && type->pbFormat != nullptr &&
                      type->cbFormat >= sizeof(WAVEFORMATEX) &&
                      SUCCEEDED(m_owner->EncoderInterface()->GetInputType(&current)) &&
                      std::memcmp(&current, type->pbFormat, sizeof(WAVEFORMATEX)) == 0;
    stdax::DeleteMediaTypeRecord(type);
    return same ? S_OK : VFW_E_CHANGING_FORMAT;
}

HRESULT STDMETHODCALLTYPE CInputPin::EndOfStream()
{
    Synchronization::CAutoLock lock(&m_receiveLock);
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::EndOfStream");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    hr = CheckStreaming();
    if (hr == S_OK)
        hr = m_owner->EndOfStream();
    return hr;
}

HRESULT STDMETHODCALLTYPE CInputPin::BeginFlush()
{
    Synchronization::CAutoLock lock(m_lock);
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::BeginFlush");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    m_flushing = TRUE;
    return hr = m_owner->BeginFlush();
}

HRESULT STDMETHODCALLTYPE CInputPin::EndFlush()
{
    Synchronization::CAutoLock lock(m_lock);
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::EndFlush");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    hr = CheckStreaming();
    if (FAILED(hr))
        return hr;
    hr = m_owner->EndFlush();
    m_flushing = FALSE;
    m_runtimeError = FALSE;
    return hr;
}

} // namespace MPEG2AudioEncoder
