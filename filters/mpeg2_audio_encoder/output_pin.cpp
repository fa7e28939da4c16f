#include "filters/mpeg2_audio_encoder/output_pin.h"

#include "filters/mpeg2_audio_encoder/filter.h"
#include "stdax/media_type_operations.h"
#include "support/library_logs.h"
#include "support/structured_exception_guard.h"
#include "support/trace_address.h"
#include "support/trace_log.h"

#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>

namespace MPEG2AudioEncoder {

namespace {

constexpr WORD MonoMode = 3;

Win32::TraceAddressValue Address(const void* pointer)
{
    return Win32::TraceAddress(pointer);
}

} // namespace

COutputPin::COutputPin(CFilter* filter, HRESULT* result)
    : CBaseOutputPin(filter, filter->FilterLock(), PinSetupData(1), nullptr, result),
      IMediaSeekingPassThruImpl(filter->InputPin() != nullptr ? filter->InputPin()->PinInterface() : nullptr),
      m_owner(filter), m_bIsStreamOutput(false)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::COutputPin::COutputPin");
    scope.BeginNoResult();
}

COutputPin::~COutputPin() = default;

HRESULT STDMETHODCALLTYPE COutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IMediaSeeking) {
        *ppv = static_cast<IMediaSeeking*>(this);
        return COM::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    }
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT COutputPin::OnGetMediaType(int position, AM_MEDIA_TYPE* pmt)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::COutputPin::OnGetMediaType");
    HRESULT hr = S_OK;
    scope.Begin(&hr, L"%d, " TRACE_ADDRESS, position, Address(pmt));
    if (m_owner == nullptr || m_owner->InputPin() == nullptr)
        return hr = E_UNEXPECTED;
    if (pmt->majortype == MEDIATYPE_Stream || !m_owner->InputPin()->IsConnected())
        return hr;
    return hr = FillAudioType(pmt);
}

HRESULT COutputPin::FillAudioType(AM_MEDIA_TYPE* pmt)
{
    EncoderSettings settings{};
    HRESULT hr = m_owner->SettingsInterface()->GetEncoderSettings(&settings);
    ULONG bufferSize = 0;
    if (SUCCEEDED(hr))
        hr = m_owner->SettingsInterface()->GetSizeofOutputBuffer(&bufferSize);
    if (FAILED(hr))
        return hr;

    BYTE* const block = stdax::ReallocateFormatBlock(pmt, sizeof(MPEGLAYER3WAVEFORMAT));
    if (block == nullptr)
        return E_OUTOFMEMORY;
    MPEGLAYER3WAVEFORMAT format{};
    format.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    format.wfx.nChannels = settings.dwChannelMode == MonoMode ? 1 : 2;
    format.wfx.nSamplesPerSec = settings.dwOutSampleRate;
    format.wfx.nAvgBytesPerSec = settings.dwBitrateKbps * 1000 / 8;
    format.wfx.nBlockAlign = 1;
    format.wfx.wBitsPerSample = 0;
    format.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    format.wID = MPEGLAYER3_ID_MPEG;
    format.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
    format.nBlockSize = 1;
    format.nFramesPerBlock = 1;
    format.nCodecDelay = 0;
    std::memcpy(block, &format, sizeof(format));
    pmt->bFixedSizeSamples = TRUE;
    pmt->bTemporalCompression = FALSE;
    pmt->lSampleSize = bufferSize;
    pmt->formattype = FORMAT_WaveFormatEx;
    return S_OK;
}

HRESULT COutputPin::OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::COutputPin::OnDecideBufferSize");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (pProperties == nullptr || ::IsBadWritePtr(pProperties, sizeof(*pProperties)))
        return hr = E_POINTER;
    if (pProperties->cBuffers == 0) {
        s_EncoderLog.Print(L"need to determine number of buffers, from input pin of our filter.");
        if (m_owner == nullptr || m_owner->InputPin() == nullptr)
            return hr = E_UNEXPECTED;
        ALLOCATOR_PROPERTIES upstream = {};
        hr = m_owner->InputPin()->GetAllocatorProperties(&upstream);
        if (FAILED(hr))
            return hr;
        pProperties->cBuffers = upstream.cBuffers;
    }
    if (pProperties->cbBuffer == 0) {
        s_EncoderLog.Print(L"need to determine size of buffer, from our encoder…");
        ULONG size = 0;
        hr = m_owner->SettingsInterface()->GetSizeofOutputBuffer(&size);
        if (FAILED(hr))
            return hr;
        pProperties->cbBuffer = static_cast<long>(size);
    }
    pProperties->cbAlign = 1;
    return hr;
}

HRESULT COutputPin::CompleteConnect(IPin* pReceivePin)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::COutputPin::CompleteConnect");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    if (SUCCEEDED(hr))
        hr = DecideAllocator(m_inputPin, &m_allocator);
    if (SUCCEEDED(hr)) {
        m_bIsStreamOutput = ConnectionType().majortype == MEDIATYPE_Stream;
        s_EncoderLog.Print(L"m_bIsStreamOutput = %s.", m_bIsStreamOutput ? L"TRUE" : L"FALSE");
    }
    return hr;
}

HRESULT COutputPin::Active()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::COutputPin::Active");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (m_allocator.IsNull())
        return hr = VFW_E_NO_ALLOCATOR;
    return hr = m_allocator->Commit();
}

HRESULT COutputPin::Deliver(const BYTE* data, ULONG cbCopy, ULONG cbActual, REFERENCE_TIME* start,
                            REFERENCE_TIME* stop, BOOL syncPoint)
{
    if (data == nullptr)
        return E_POINTER;
    if (cbCopy == 0)
        return E_INVALIDARG;
    if (::IsBadReadPtr(data, cbCopy))
        return E_POINTER;
    if (cbActual == 0)
        return E_INVALIDARG;

    IMediaSample* sample = nullptr;
    HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    if (sample == nullptr)
        return E_UNEXPECTED;
    BYTE* buffer = nullptr;
    hr = sample->GetPointer(&buffer);
    if (SUCCEEDED(hr) && (sample->GetSize() < 0 || static_cast<ULONG>(sample->GetSize()) < cbCopy))
        hr = VFW_E_BUFFER_OVERFLOW;   // never written past the sample's buffer
    if (SUCCEEDED(hr))
        hr = Win32::RunGuarded([&] { std::memcpy(buffer, data, cbCopy); });
    if (SUCCEEDED(hr))
        hr = sample->SetActualDataLength(static_cast<long>(cbActual));
    if (SUCCEEDED(hr) && syncPoint)
        hr = sample->SetSyncPoint(TRUE);
    if (SUCCEEDED(hr))
        hr = sample->SetTime(start, stop);
    if (SUCCEEDED(hr))
        hr = CBaseOutputPin::Deliver(sample);
    sample->Release();
    return hr;
}

} // namespace MPEG2AudioEncoder
