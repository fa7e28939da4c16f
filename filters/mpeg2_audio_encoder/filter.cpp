#include "filters/mpeg2_audio_encoder/filter.h"

#include "filters/mpeg2_audio_encoder/frame_header.h"

#include "support/library_logs.h"
#include "support/trace_address.h"
#include "support/trace_log.h"

#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <new>

namespace MPEG2AudioEncoder {

const CLSID CLSID_MPEG2AudioEncoder = {0xC7B9355C, 0xF5C4, 0x4BFF, {0x92, 0x36, 0x69, 0x01, 0x23, 0x97, 0x9D, 0xBF}};
const GUID MEDIASUBTYPE_MPEGLayer3 = {0x00000055, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

namespace {

constexpr DWORD MeritSoftwareCompressor = 0x100000;
constexpr ULONG LowFrequencySamplesPerFrame = 576;
constexpr ULONG SamplesPerFrame = 1152;
constexpr DWORD LowestMpeg1Rate = 32000;
constexpr LONGLONG UnitsPerSecond = 10000000;
// Encoded bytes kept while downstream refuses them (about a minute at 128 kbit/s).
constexpr size_t UndeliveredLimit = 1 << 20;

const AMOVIESETUP_MEDIATYPE s_inputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_MEDIATYPE s_outputTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_MPEGLayer3},
                                               {&MEDIATYPE_Stream, &MEDIASUBTYPE_MPEG1Audio}};
const AMOVIESETUP_PIN s_pins[] = {
    {const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, s_inputTypes},
    {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 2, s_outputTypes},
};
const AMOVIESETUP_FILTER s_filter = {&CLSID_MPEG2AudioEncoder, L"MPEG2AudioEncoder", MeritSoftwareCompressor, 2,
                                     s_pins};

Win32::TraceAddressValue Address(const void* pointer)
{
    return Win32::TraceAddress(pointer);
}

// A delivery refused for a reason that does not go away by itself while the stream runs: the disk is
// full or failing, the file cannot be written or has reached its largest size, or downstream has ended
// its stream after an error. (A writer that is stopping or has not committed its buffers yet refuses
// for a while only.)
bool IsLastingFailure(HRESULT hr)
{
    switch (hr) {
    case HRESULT_FROM_WIN32(ERROR_DISK_FULL):
    case HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL):
    case HRESULT_FROM_WIN32(ERROR_WRITE_FAULT):
    case HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE):
    case HRESULT_FROM_WIN32(ERROR_NOT_READY):
    case HRESULT_FROM_WIN32(ERROR_DEV_NOT_EXIST):
    case HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED):
    case E_ACCESSDENIED:
    case E_HANDLE:
    case STG_E_MEDIUMFULL:
    case STG_E_WRITEFAULT:
    case STG_E_ACCESSDENIED:
    case VFW_E_RUNTIME_ERROR:
        return true;
    default:
        return false;
    }
}

} // namespace

const AMOVIESETUP_PIN* PinSetupData(int index)
{
    return &s_pins[index];
}

const AMOVIESETUP_FILTER* CFilter::SetupData()
{
    return &s_filter;
}

CFilter::CFilter(IUnknown* outer, HRESULT* result)
    : CFilterLock(), CBaseFilter(&s_filter, outer, &m_filterLock, result), m_pInputPin(nullptr),
      m_pOutputPin(nullptr), m_bEndOfStreamSent(false), m_encoder(GetOwner(), result), m_nSamplesPerFrame(0),
      m_llBytePosition(0), m_rtNext(-1), m_rtFrameDuration(0), m_bStreaming(false),
      m_cbMaxDelivery(CEncoder::OutputBufferSize)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::CFilter");
    scope.BeginNoResult();
    if (result == nullptr || FAILED(*result))
        return;
    m_pInputPin = new CInputPin(this, result);
    if (m_pInputPin == nullptr) {
        *result = E_OUTOFMEMORY;
        return;
    }
    if (FAILED(*result))
        return;
    m_pOutputPin = new COutputPin(this, result);
    if (m_pOutputPin == nullptr)
        *result = E_OUTOFMEMORY;
}

CFilter::~CFilter()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::~CFilter");
    scope.BeginNoResult();
    delete static_cast<COM::CUnknown*>(m_pOutputPin);
    delete static_cast<COM::CUnknown*>(m_pInputPin);
}

COM::CUnknown* CFilter::CreateInstance(IUnknown* outer, HRESULT* result)
{
    return new CFilter(outer, result);
}

HRESULT CFilter::CreateFilter(IUnknown* outer, REFIID riid, void** ppv)
{
    return COM::CreateObject(&CFilter::CreateInstance, outer, riid, ppv);
}

HRESULT STDMETHODCALLTYPE CFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IEncoder || riid == IID_IEncoderSettings)
        return m_encoder.NonDelegatingQueryInterface(riid, ppv);
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

void CFilter::TapStored(const BYTE* data, ULONG size, LONGLONG position)
{
    if (m_tap == nullptr || size == 0)
        return;
    if (m_tapSkip < 0 && position == 0 && size >= 4) {
        const int length = GetFrameLength(data);
        m_tapSkip = length > 0 ? length : 0;
    }
    if (m_tapSkip < 0)
        m_tapSkip = 0;
    if (position + size <= m_tapSkip)
        return;
    if (position < m_tapSkip) {
        const ULONG skipped = static_cast<ULONG>(m_tapSkip - position);
        data += skipped;
        size -= skipped;
    }
    m_tap->Write(data, size);
}

stdax::CBasePin* CFilter::GetPin(int n)
{
    if (n == 0)
        return m_pInputPin;
    if (n == 1)
        return m_pOutputPin;
    return nullptr;
}

// --- state changes -----------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CFilter::Pause()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::Pause");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (m_pInputPin == nullptr || m_pOutputPin == nullptr)
        return hr = E_UNEXPECTED;
    if (m_state == State_Paused)
        return hr;

    if (!m_pInputPin->IsConnected()) {
        // Nothing can arrive: downstream is told at once that the stream has ended (once per run).
        if (!m_bEndOfStreamSent) {
            if (m_pOutputPin->IsConnected())
                hr = m_pOutputPin->DeliverEndOfStream();
            m_bEndOfStreamSent = true;
        }
        m_state = State_Paused;
        return hr;
    }
    if (!m_pOutputPin->IsConnected()) {
        m_state = State_Paused;
        return hr;
    }

    s_EncoderLog.Print(L"all pins are connected.");
    const bool starting = m_state == State_Stopped;
    if (starting) {
        Synchronization::CAutoLock receive(m_pInputPin->ReceiveLock());
        hr = StartStreaming();
        if (FAILED(hr))
            return hr;
    }
    hr = CBaseFilter::Pause();
    if (FAILED(hr) && starting) {
        // The filter stays Stopped: the encoder opened for this run is closed again, so that the next
        // Pause can open it afresh.
        Synchronization::CAutoLock receive(m_pInputPin->ReceiveLock());
        m_encoder.Close(nullptr);
        m_bStreaming = false;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::Stop");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (m_pInputPin == nullptr || m_pOutputPin == nullptr) {
        hr = E_UNEXPECTED;
    } else if ((m_pInputPin->IsConnected() || m_pOutputPin->IsConnected()) && m_state != State_Stopped) {
        if (m_pInputPin->IsConnected())
            m_pInputPin->Inactive();
        // A Receive in progress finishes encoding and delivering before the encoder is closed; one
        // that waits for the lock finds the filter stopped.
        Synchronization::CAutoLock receive(m_pInputPin->ReceiveLock());
        if (m_pOutputPin->IsConnected())
            m_pOutputPin->Inactive();
        hr = StopStreaming();
        m_state = State_Stopped;
    }
    m_state = State_Stopped;
    m_bEndOfStreamSent = false;
    return hr;
}

HRESULT CFilter::StartStreaming()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::StartStreaming");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    s_EncoderLog.Print(L"determine dwOutSampleRate…");
    DWORD rate = 0;
    if (m_pOutputPin->IsStreamOutput()) {
        EncoderSettings settings{};
        hr = m_encoder.GetEncoderSettings(&settings);
        if (SUCCEEDED(hr))
            rate = settings.dwOutSampleRate;
    } else {
        const AM_MEDIA_TYPE& type = m_pOutputPin->ConnectionType();
        s_EncoderLog.Print(L"m_pOutputPin->m_mt.pbFormat = " TRACE_ADDRESS L".", Address(type.pbFormat));
        if (type.pbFormat != nullptr && type.cbFormat >= sizeof(WAVEFORMATEX))
            rate = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat)->nSamplesPerSec;
        else
            hr = VFW_E_INVALID_MEDIA_TYPE;
    }
    s_EncoderLog.Print(L"dwOutSampleRate = %d.", static_cast<int>(rate));
    if (FAILED(hr))
        return hr;
    // The frame duration divides by the rate: an output rate of 0 cannot be streamed.
    if (rate == 0)
        return hr = VFW_E_UNSUPPORTED_AUDIO;

    m_nSamplesPerFrame = rate < LowestMpeg1Rate ? LowFrequencySamplesPerFrame : SamplesPerFrame;
    m_rtFrameDuration = static_cast<LONGLONG>(m_nSamplesPerFrame) * UnitsPerSecond / rate;
    m_rtNext = -1;
    m_llBytePosition = 0;
    m_undelivered.clear();
    m_tapSkip = TagFrameAsked() ? -1 : 0;
    m_cbMaxDelivery = CEncoder::OutputBufferSize;
    ALLOCATOR_PROPERTIES agreed = {};
    IMemAllocator* const allocator = m_pOutputPin->Allocator();
    if (allocator != nullptr && SUCCEEDED(allocator->GetProperties(&agreed)) && agreed.cbBuffer > 0)
        m_cbMaxDelivery = static_cast<ULONG>(agreed.cbBuffer);
    hr = m_encoder.Open();
    m_bStreaming = SUCCEEDED(hr);
    return hr;
}

HRESULT CFilter::StopStreaming()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::StopStreaming");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (m_pOutputPin == nullptr)
        return hr = E_UNEXPECTED;
    COM::TPtr<IStream> stream;
    const HRESULT found = DownstreamStream(&stream);
    // The audio still inside LAME goes into the stored stream before the tag frame is rewritten.
    if (m_bStreaming && stream.IsValid() && m_pOutputPin->IsStreamOutput())
        hr = DrainToStream(stream);
    // A stream output asked for a tag frame stores LAME's reserved frame at its start; without the
    // downstream stream that frame cannot be filled in, and the stop says so (LAME is released all the
    // same). Frames delivered one by one leave the reserved frame out, so they need no tag.
    const bool tagUnwritable = m_bStreaming && m_pOutputPin->IsStreamOutput() && !stream.IsValid() && TagFrameAsked();
    const HRESULT closed = m_encoder.Close(stream);
    if (SUCCEEDED(hr))
        hr = closed;
    if (SUCCEEDED(hr) && tagUnwritable)
        hr = FAILED(found) ? found : E_NOINTERFACE;
    m_bStreaming = false;
    return hr;
}

bool CFilter::TagFrameAsked()
{
    EncoderSettings settings{};
    return SUCCEEDED(m_encoder.GetEncoderSettings(&settings)) && settings.bWriteTagFrame != 0;
}

HRESULT CFilter::DownstreamStream(IStream** stream)
{
    *stream = nullptr;
    IPin* const peer = m_pOutputPin->GetConnected();
    if (peer == nullptr)
        return VFW_E_NOT_CONNECTED;
    return peer->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream));
}

HRESULT CFilter::WriteToStream(IStream* stream, const BYTE* data, ULONG size)
{
    if (size == 0)
        return S_OK;
    LARGE_INTEGER position;
    position.QuadPart = m_llBytePosition;
    HRESULT hr = stream->Seek(position, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr))
        return hr;
    ULONG written = 0;
    hr = stream->Write(data, size, &written);
    if (FAILED(hr))
        return hr;
    if (written != size)
        return STG_E_MEDIUMFULL;
    TapStored(data, size, m_llBytePosition);
    m_llBytePosition += size;
    return S_OK;
}

HRESULT CFilter::DrainToStream(IStream* stream)
{
    BYTE* data = nullptr;
    ULONG aligned = 0;
    ULONG size = 0;
    // Bytes that failed deliveries left behind first, then those not yet taken from the encoder, then
    // what the flush brings out of LAME.
    HRESULT hr = WriteToStream(stream, m_undelivered.data(), static_cast<ULONG>(m_undelivered.size()));
    if (SUCCEEDED(hr)) {
        m_undelivered.clear();
        hr = m_encoder.GetBlockAligned(1, &data, &aligned, &size);
    }
    if (SUCCEEDED(hr))
        hr = WriteToStream(stream, data, size);
    if (SUCCEEDED(hr))
        hr = m_encoder.Flush();
    if (SUCCEEDED(hr))
        hr = m_encoder.GetBlockAligned(1, &data, &aligned, &size);
    if (SUCCEEDED(hr))
        hr = WriteToStream(stream, data, size);
    return hr;
}

// --- streaming ---------------------------------------------------------------------------------------

HRESULT CFilter::Receive(IMediaSample* pSample)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::Receive");
    HRESULT hr = S_OK;
    scope.Begin(&hr, TRACE_ADDRESS, Address(pSample));
    BYTE* data = nullptr;
    hr = pSample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    const LONG length = pSample->GetActualDataLength();
    // A length beyond the sample's buffer would have the encoder read past its end.
    if (length > pSample->GetSize())
        return hr = VFW_E_BUFFER_OVERFLOW;
    ULONG left = length > 0 ? static_cast<ULONG>(length) : 0;
    HRESULT refused = S_OK;   // the first failed delivery of this sample
    while (left > 0) {
        // Downstream keeps refusing: what waits for it stays bounded. Past the bound the recording
        // cannot go on without losing audio, so the stream ends here.
        if (m_undelivered.size() >= UndeliveredLimit) {
            const HRESULT retried = FlushEncodedSamples();
            if (FAILED(retried))
                return hr = EndStreamWithError(retried);
        }
        ULONG consumed = 0;
        hr = m_encoder.Encode(reinterpret_cast<const short*>(data), left, &consumed);
        if (FAILED(hr) || consumed == 0)
            break;   // less than one sample frame left: it is dropped
        hr = FlushEncodedSamples();
        if (FAILED(hr)) {
            // A full disk or a failing file does not get better by waiting: the stream ends now, the
            // encoded bytes kept so far still go to the file at Stop if it takes them.
            if (IsLastingFailure(hr))
                return hr = EndStreamWithError(hr);
            // Bytes kept for the next delivery: encoding goes on, the failure is reported.
            if (m_undelivered.empty())
                break;
            if (SUCCEEDED(refused))
                refused = hr;
            hr = S_OK;
        }
        data += consumed;
        left -= consumed;
    }
    if (SUCCEEDED(hr) && FAILED(refused))
        hr = refused;
    return hr;
}

HRESULT CFilter::EndStreamWithError(HRESULT error)
{
    s_EncoderLog.Print(L"downstream refuses the encoded stream with 0x%08X: the stream ends\x2026",
                       static_cast<unsigned>(error));
    // No end of stream downstream: the writer would report a completion that did not happen. What was
    // encoded still reaches the file at Stop.
    m_pInputPin->AbortStream(error);
    return error;
}

HRESULT CFilter::DeliverStream(const BYTE* data, ULONG size, ULONG* delivered)
{
    HRESULT hr = S_OK;
    *delivered = 0;
    while (*delivered < size) {
        const ULONG piece = size - *delivered < m_cbMaxDelivery ? size - *delivered : m_cbMaxDelivery;
        REFERENCE_TIME start = m_llBytePosition;
        REFERENCE_TIME stop = start + piece;
        hr = m_pOutputPin->Deliver(data + *delivered, piece, piece, &start, &stop, FALSE);
        if (FAILED(hr))
            break;
        TapStored(data + *delivered, piece, m_llBytePosition);
        m_llBytePosition += piece;
        *delivered += piece;
    }
    return hr;
}

HRESULT CFilter::KeepUndelivered(const BYTE* data, ULONG size)
{
    try {
        m_undelivered.insert(m_undelivered.end(), data, data + size);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CFilter::FlushEncodedSamples()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::FlushEncodedSamples");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (m_pOutputPin == nullptr)
        return hr = E_UNEXPECTED;

    if (m_pOutputPin->IsStreamOutput()) {
        // The encoder counts these bytes as handed out: whatever does not go downstream now is kept
        // here, behind what an earlier failure left, so that the stream has no hole.
        BYTE* data = nullptr;
        ULONG aligned = 0;
        ULONG size = 0;
        hr = m_encoder.GetBlockAligned(1, &data, &aligned, &size);
        if (FAILED(hr))
            return hr;
        ULONG delivered = 0;
        if (m_undelivered.empty()) {
            if (size == 0)
                return hr;
            hr = DeliverStream(data, size, &delivered);
            if (FAILED(hr)) {
                const HRESULT kept = KeepUndelivered(data + delivered, size - delivered);
                if (FAILED(kept))
                    hr = kept;
            }
            return hr;
        }
        hr = KeepUndelivered(data, size);
        if (FAILED(hr))
            return hr;
        hr = DeliverStream(m_undelivered.data(), static_cast<ULONG>(m_undelivered.size()), &delivered);
        m_undelivered.erase(m_undelivered.begin(), m_undelivered.begin() + delivered);
        return hr;
    }

    if (m_rtNext < 0)
        m_rtNext = 0;
    for (;;) {
        BYTE* frame = nullptr;
        ULONG length = 0;
        hr = m_encoder.GetFrame(&frame, &length);
        if (FAILED(hr) || length == 0)
            break;
        REFERENCE_TIME start = m_rtNext;
        REFERENCE_TIME stop = start + m_rtFrameDuration;
        hr = m_pOutputPin->Deliver(frame, length, length, &start, &stop, TRUE);
        if (FAILED(hr))
            break;
        m_rtNext = stop;
    }
    return hr;
}

HRESULT CFilter::OutputReady() const
{
    if (m_pOutputPin == nullptr)
        return E_UNEXPECTED;
    return m_pOutputPin->IsConnected() ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT CFilter::EndOfStream()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::EndOfStream");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    // Runs under the receive lock only: the output pin's connection cannot change here, since the
    // streaming check passed and Stop needs the receive lock before the filter counts as stopped.
    if (FAILED(hr = OutputReady()))
        return hr;
    return hr = m_pOutputPin->DeliverEndOfStream();
}

HRESULT CFilter::BeginFlush()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::BeginFlush");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (FAILED(hr = OutputReady()))
        return hr;
    hr = m_pOutputPin->DeliverBeginFlush();
    if (FAILED(hr))
        return hr;

    Synchronization::CAutoLock receive(m_pInputPin->ReceiveLock());
    COM::TPtr<IStream> stream;
    DownstreamStream(&stream);
    if (stream.IsValid() && m_pOutputPin->IsStreamOutput()) {
        // The downstream pin is flushing and drops samples: the rest of the encoded stream goes
        // through its stream, so that the stored stream ends with the last encoded byte.
        hr = DrainToStream(stream);
    } else {
        hr = m_encoder.Flush();
        if (SUCCEEDED(hr))
            hr = FlushEncodedSamples();
    }
    if (SUCCEEDED(hr) && stream.IsValid()) {
        ULARGE_INTEGER size;
        size.QuadPart = static_cast<ULONGLONG>(m_llBytePosition);
        hr = stream->SetSize(size);
    }
    m_rtNext = -1;
    m_llBytePosition = 0;
    m_undelivered.clear();
    return hr;
}

HRESULT CFilter::EndFlush()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::EndFlush");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (FAILED(hr = OutputReady()))
        return hr;
    return hr = m_pOutputPin->DeliverEndFlush();
}

} // namespace MPEG2AudioEncoder
