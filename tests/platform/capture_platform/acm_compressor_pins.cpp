#include "acm_compressor_pins.h"

#include "acm_compressor.h"
#include "media_formats.h"

#include "stdax/media_type_operations.h"

#include <cstring>

namespace CapturePlatform {

namespace {

// Output buffers hold about this much audio.
constexpr ULONG kOutputBufferMilliseconds = 100;
constexpr LONG kOutputBuffers = 4;

} // namespace

// --- input --------------------------------------------------------------------------------------------

CCompressorInputPin::CCompressorInputPin(CAcmCompressor* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBaseInputPin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, nullptr, result),
      m_compressor(filter)
{
}

HRESULT CCompressorInputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    WAVEFORMATEX format;
    HRESULT hr = ReadPcmFormat(pmt, &format);
    if (FAILED(hr))
        return hr;
    std::vector<BYTE> output;
    hr = m_compressor->OutputFormatFor(format, &output);
    if (FAILED(hr))
        return hr == E_POINTER || hr == E_OUTOFMEMORY ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    // A connected output keeps its format.
    if (m_compressor->Output()->IsConnected() && output != m_compressor->OutputFormat())
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT CCompressorInputPin::SetMediaType(const AM_MEDIA_TYPE* pmt)
{
    WAVEFORMATEX format;
    HRESULT hr = ReadPcmFormat(pmt, &format);
    std::vector<BYTE> output;
    if (SUCCEEDED(hr))
        hr = m_compressor->OutputFormatFor(format, &output);
    if (SUCCEEDED(hr))
        hr = CBaseInputPin::SetMediaType(pmt);
    if (SUCCEEDED(hr))
        hr = m_compressor->SetFormats(format, std::move(output));
    return hr;
}

HRESULT STDMETHODCALLTYPE CCompressorInputPin::Receive(IMediaSample* pSample)
{
    Synchronization::CAutoLock lock(m_compressor->ReceiveLock());
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    return m_compressor->Process(pSample);
}

HRESULT STDMETHODCALLTYPE CCompressorInputPin::EndOfStream()
{
    Synchronization::CAutoLock lock(m_compressor->ReceiveLock());
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    m_compressor->Finish();
    return m_compressor->Output()->DeliverEndOfStream();
}

HRESULT STDMETHODCALLTYPE CCompressorInputPin::BeginFlush()
{
    const HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr))
        return hr;
    return m_compressor->Output()->DeliverBeginFlush();
}

HRESULT STDMETHODCALLTYPE CCompressorInputPin::EndFlush()
{
    HRESULT hr = S_OK;
    {
        Synchronization::CAutoLock receiving(m_compressor->ReceiveLock());
        m_compressor->Discard();
        hr = m_compressor->Output()->DeliverEndFlush();
    }
    Synchronization::CAutoLock lock(m_lock);
    m_flushing = FALSE;
    return hr;
}

HRESULT STDMETHODCALLTYPE CCompressorInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    const HRESULT hr = CBaseInputPin::NewSegment(tStart, tStop, dRate);
    if (FAILED(hr))
        return hr;
    return m_compressor->Output()->DeliverNewSegment(tStart, tStop, dRate);
}

// --- output -------------------------------------------------------------------------------------------

CCompressorOutputPin::CCompressorOutputPin(CAcmCompressor* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBaseOutputPin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, nullptr, result),
      m_compressor(filter)
{
}

HRESULT CCompressorOutputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    if (!m_compressor->Input()->IsConnected())
        return VFW_E_NOT_CONNECTED;
    if (pmt->cbFormat != 0 && (pmt->pbFormat == nullptr || ::IsBadReadPtr(pmt->pbFormat, pmt->cbFormat)))
        return E_POINTER;
    AM_MEDIA_TYPE own;
    stdax::InitializeMediaType(&own);
    HRESULT hr = m_compressor->MakeOutputType(&own);
    if (SUCCEEDED(hr))
        hr = SameMediaType(*pmt, own) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    stdax::FreeMediaTypeContents(&own);
    return hr;
}

HRESULT CCompressorOutputPin::GetMediaType(int position, AM_MEDIA_TYPE* pmt)
{
    if (position < 0)
        return E_INVALIDARG;
    if (pmt == nullptr)
        return E_POINTER;
    if (position > 0 || !m_compressor->Input()->IsConnected())
        return VFW_S_NO_MORE_ITEMS;
    stdax::FreeMediaTypeContents(pmt);
    return m_compressor->MakeOutputType(pmt);
}

HRESULT CCompressorOutputPin::CompleteConnect(IPin* pReceivePin)
{
    const HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr))
        return hr;
    return DecideAllocator(m_inputPin, &m_allocator);
}

HRESULT CCompressorOutputPin::OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties)
{
    const std::vector<BYTE>& formatBytes = m_compressor->OutputFormat();
    if (formatBytes.size() < sizeof(WAVEFORMATEX))
        return VFW_E_NOT_CONNECTED;
    const auto* format = reinterpret_cast<const WAVEFORMATEX*>(formatBytes.data());
    const ULONG block = format->nBlockAlign > 0 ? format->nBlockAlign : 1;
    ULONG bytes = format->nAvgBytesPerSec * kOutputBufferMilliseconds / 1000;
    bytes = (bytes + block - 1) / block * block;
    if (bytes < block)
        bytes = block;
    if (pProperties->cbBuffer < static_cast<LONG>(bytes))
        pProperties->cbBuffer = static_cast<LONG>(bytes);
    if (pProperties->cBuffers < kOutputBuffers)
        pProperties->cBuffers = kOutputBuffers;
    return S_OK;
}

HRESULT CCompressorOutputPin::Active()
{
    if (m_allocator.IsNull())
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->Commit();
}

} // namespace CapturePlatform
