#include "acm_compressor.h"

#include "media_formats.h"

#include <uuids.h>

#include <algorithm>
#include <new>

namespace CapturePlatform {

CAcmCompressorRecords::CAcmCompressorRecords(const CompressorClass& compressorClass)
    : m_class(compressorClass), m_outputSubtype(SubtypeOfTag(compressorClass.tag)),
      m_inputType{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}, m_outputType{&MEDIATYPE_Audio, &m_outputSubtype},
      m_pinRecords{{const_cast<LPWSTR>(L"Input"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, &m_inputType},
                   {const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 1, &m_outputType}},
      m_filterRecord{compressorClass.clsid, compressorClass.name, MERIT_DO_NOT_USE, 2, m_pinRecords}
{
}

CAcmCompressor::CAcmCompressor(const CompressorClass& compressorClass, HRESULT* result)
    : CAcmCompressorRecords(compressorClass), CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_input = new CCompressorInputPin(this, &m_pinRecords[0], result);
    m_output = new CCompressorOutputPin(this, &m_pinRecords[1], result);
    if (m_input == nullptr || m_output == nullptr)
        *result = E_OUTOFMEMORY;
}

CAcmCompressor::~CAcmCompressor()
{
    delete static_cast<COM::CUnknown*>(m_output);
    delete static_cast<COM::CUnknown*>(m_input);
}

stdax::CBasePin* CAcmCompressor::GetPin(int n)
{
    if (n == 0)
        return m_input;
    return n == 1 ? m_output : nullptr;
}

HRESULT CAcmCompressor::OutputFormatFor(const WAVEFORMATEX& input, std::vector<BYTE>* format) const
{
    if (input.wBitsPerSample != 16)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return CAcmCodec::SuggestFormat(input, m_class.tag, format);
}

HRESULT CAcmCompressor::SetFormats(const WAVEFORMATEX& input, std::vector<BYTE>&& output)
{
    m_inputFormat = input;
    m_outputFormat = std::move(output);
    return S_OK;
}

HRESULT CAcmCompressor::MakeOutputType(AM_MEDIA_TYPE* pmt) const
{
    if (m_outputFormat.size() < sizeof(WAVEFORMATEX))
        return VFW_E_NOT_CONNECTED;
    return MakeAudioMediaType(*reinterpret_cast<const WAVEFORMATEX*>(m_outputFormat.data()), pmt);
}

HRESULT STDMETHODCALLTYPE CAcmCompressor::Pause()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state == State_Stopped) {
        if (m_input->IsConnected() && m_outputFormat.size() >= sizeof(WAVEFORMATEX)) {
            Synchronization::CAutoLock receiving(&m_receiveLock);
            const HRESULT hr =
                m_codec.Open(m_inputFormat, reinterpret_cast<const WAVEFORMATEX*>(m_outputFormat.data()));
            if (FAILED(hr))
                return hr;
            Discard();
        }
    }
    return CBaseFilter::Pause();
}

HRESULT STDMETHODCALLTYPE CAcmCompressor::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped) {
        for (stdax::CBasePin* pin : {static_cast<stdax::CBasePin*>(m_input), static_cast<stdax::CBasePin*>(m_output)}) {
            if (!pin->IsConnected())
                continue;
            const HRESULT inactive = pin->Inactive();
            if (FAILED(inactive) && SUCCEEDED(hr))
                hr = inactive;
        }
    }
    m_state = State_Stopped;
    // Once a Receive under way has ended, the stream can go.
    Synchronization::CAutoLock receiving(&m_receiveLock);
    m_codec.Close();
    Discard();
    return hr;
}

void CAcmCompressor::Discard()
{
    m_pending.clear();
    m_haveTimeBase = false;
    m_timeBase = 0;
    m_framesOut = 0;
    m_discontinuity = true;
}

HRESULT CAcmCompressor::Process(IMediaSample* sample)
{
    if (!m_codec.IsOpen())
        return VFW_E_WRONG_STATE;
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    const LONG length = sample->GetActualDataLength();
    if (length < 0 || (length > 0 && data == nullptr))
        return E_UNEXPECTED;
    if (!m_haveTimeBase) {
        REFERENCE_TIME start = 0, stop = 0;
        if (SUCCEEDED(sample->GetTime(&start, &stop)))
            m_timeBase = start;
        m_haveTimeBase = true;
    }
    try {
        m_pending.insert(m_pending.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return DeliverBlocks();
}

HRESULT CAcmCompressor::Finish()
{
    if (!m_codec.IsOpen())
        return VFW_E_WRONG_STATE;
    HRESULT hr = S_OK;
    const ULONG block = m_codec.SourceBlockBytes();
    if (!m_pending.empty() && m_pending.size() % block != 0) {
        // Silence up to the whole block; 16-bit PCM silence is zero.
        try {
            m_pending.resize((m_pending.size() / block + 1) * block, 0);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
    }
    if (SUCCEEDED(hr))
        hr = DeliverBlocks();
    m_pending.clear();
    return hr;
}

HRESULT CAcmCompressor::DeliverBlocks()
{
    const ULONG sourceBlock = m_codec.SourceBlockBytes();
    const ULONG targetBlock = m_codec.TargetBlockBytes();
    size_t used = 0;
    HRESULT hr = S_OK;
    while (m_pending.size() - used >= sourceBlock) {
        IMediaSample* out = nullptr;
        hr = m_output->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
        if (FAILED(hr) || out == nullptr) {
            hr = FAILED(hr) ? hr : E_UNEXPECTED;
            break;
        }
        BYTE* target = nullptr;
        const LONG room = out->GetSize();
        hr = out->GetPointer(&target);
        const ULONG blocks = room > 0 ? std::min<ULONG>(static_cast<ULONG>((m_pending.size() - used) / sourceBlock),
                                                        static_cast<ULONG>(room) / targetBlock)
                                      : 0;
        if (SUCCEEDED(hr) && blocks == 0)
            hr = VFW_E_BUFFER_OVERFLOW;
        ULONG written = 0;
        if (SUCCEEDED(hr))
            hr = m_codec.Convert(m_pending.data() + used, blocks * sourceBlock, target, static_cast<ULONG>(room), &written);
        if (SUCCEEDED(hr))
            hr = out->SetActualDataLength(static_cast<LONG>(written));
        if (SUCCEEDED(hr)) {
            const LONGLONG frames = blocks * sourceBlock / m_inputFormat.nBlockAlign;
            REFERENCE_TIME start = m_timeBase + m_framesOut * 10000000 / m_inputFormat.nSamplesPerSec;
            REFERENCE_TIME stop = m_timeBase + (m_framesOut + frames) * 10000000 / m_inputFormat.nSamplesPerSec;
            out->SetTime(&start, &stop);
            out->SetSyncPoint(TRUE);
            out->SetPreroll(FALSE);
            out->SetDiscontinuity(m_discontinuity ? TRUE : FALSE);
            m_framesOut += frames;
            m_discontinuity = false;
            used += blocks * sourceBlock;
            hr = m_output->Deliver(out);
        }
        out->Release();
        if (hr != S_OK)
            break;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(used));
    return hr;
}

} // namespace CapturePlatform
