#include "filters/wave_writer/input_pin.h"

#include "filters/wave_writer/wave_writer.h"
#include "stdax/media_sample_properties.h"

namespace WaveWriter {

CInputPin::CInputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CRenderedInputPin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, nullptr, result),
      m_owner(filter)
{
}

HRESULT STDMETHODCALLTYPE CInputPin::EndOfStream()
{
    if (m_owner == nullptr)
        return E_UNEXPECTED;
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    return CRenderedInputPin::EndOfStream();
}

HRESULT STDMETHODCALLTYPE CInputPin::BeginFlush()
{
    if (m_owner == nullptr)
        return E_UNEXPECTED;
    Synchronization::CAutoLock lock(m_owner->FilterLock());
    CRenderedInputPin::BeginFlush();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::EndFlush()
{
    if (m_owner == nullptr)
        return E_UNEXPECTED;
    Synchronization::CAutoLock lock(m_owner->FilterLock());
    return CRenderedInputPin::EndFlush();
}

HRESULT STDMETHODCALLTYPE CInputPin::Receive(IMediaSample* pSample)
{
    if (m_owner == nullptr)
        return E_UNEXPECTED;
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    HRESULT hr = CRenderedInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    stdax::CMediaSampleProperties properties;
    hr = properties.ReadFrom(pSample);
    if (FAILED(hr))
        return hr;
    if (properties.HasFlag(AM_SAMPLE_TYPECHANGED))
        return VFW_E_CHANGING_FORMAT;
    const AM_SAMPLE2_PROPERTIES& props = properties.Properties();
    if (props.lActual <= 0)
        return S_OK;
    if (props.pbBuffer == nullptr)
        return VFW_E_SAMPLE_REJECTED;
    // A valid length beyond the sample's buffer would write what lies behind the buffer.
    if (props.lActual > props.cbBuffer)
        return VFW_E_BUFFER_OVERFLOW;
    CWaveFile& file = m_owner->File();
    const bool failedBefore = FAILED(file.Failure());
    hr = file.Write(props.pbBuffer, static_cast<ULONG>(props.lActual));
    if (hr == S_OK && m_owner->Tap() != nullptr)
        m_owner->Tap()->Write(props.pbBuffer, static_cast<ULONG>(props.lActual));
    // The file holds all RIFF can describe, or the disk refused a write (full, gone, access
    // denied): the stream ends here and the graph hears why (EC_ERRORABORT with that error), once,
    // and no completion (the recording did not complete); later samples are refused.
    if (hr == CWaveFile::FileFull || (FAILED(file.Failure()) && !failedBefore))
        AbortStream(hr);
    return hr;
}

HRESULT STDMETHODCALLTYPE CInputPin::ReceiveCanBlock()
{
    return S_OK;
}

} // namespace WaveWriter
