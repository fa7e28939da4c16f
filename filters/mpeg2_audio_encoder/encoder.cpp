#include "filters/mpeg2_audio_encoder/encoder.h"

#include "filters/mpeg2_audio_encoder/frame_header.h"
#include "support/library_logs.h"
#include "support/step_sequence.h"
#include "support/structured_exception_guard.h"
#include "support/trace_address.h"
#include "support/trace_log.h"

#include <vfwmsgs.h>

#include <cstring>

namespace MPEG2AudioEncoder {

static_assert(sizeof(WAVEFORMATEX) == 18, "the input format is the 18-byte WAVEFORMATEX header");

namespace {

constexpr DWORD LowestMpeg1Kbps = 32;
constexpr int LowestMpeg1Rate = 32000;
constexpr int VoiceLowpassHz = 12000;
constexpr ULONG Id3v2HeaderSize = 10;
constexpr ULONG SyncWordProbeSize = 4;
constexpr int FrameHeaderSize = 4;

constexpr DWORD s_acceptedRates[] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

// Pointer arguments as the trace shows them.
Win32::TraceAddressValue Address(const void* pointer)
{
    return Win32::TraceAddress(pointer);
}

bool IsReadable(const void* pointer, UINT_PTR size)
{
    return pointer != nullptr && !::IsBadReadPtr(pointer, size);
}

bool IsWritable(void* pointer, UINT_PTR size)
{
    return pointer != nullptr && !::IsBadWritePtr(pointer, size);
}

HRESULT SeekTo(IStream* stream, ULONGLONG position)
{
    LARGE_INTEGER move;
    move.QuadPart = static_cast<LONGLONG>(position);
    return stream->Seek(move, STREAM_SEEK_SET, nullptr);
}

// Reads exactly size bytes; fewer is E_FAIL, a failing Read its own result.
HRESULT ReadExactly(IStream* stream, void* buffer, ULONG size)
{
    ULONG read = 0;
    const HRESULT hr = stream->Read(buffer, size, &read);
    if (FAILED(hr))
        return hr;
    return read < size ? E_FAIL : S_OK;
}

} // namespace

CEncoder::CEncoder(IUnknown* outer, HRESULT* result)
    : CUnknown(outer), m_pLame(nullptr), m_wfxIn{}, m_bInputTypeSet(false), m_settings{},
      m_bSettingsValid(false), m_pOutput(nullptr), m_bFlushed(false), m_nFramesSeen(0), m_cbFill(0),
      m_cbRead(0), m_nChannels(0)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::CEncoder");
    scope.BeginNoResult();
    if (result != nullptr && FAILED(*result))
        return;
    SetDefaultEncoderSettings();
    m_pOutput = static_cast<BYTE*>(::CoTaskMemAlloc(OutputBufferSize));
    if (m_pOutput == nullptr && result != nullptr)
        *result = E_OUTOFMEMORY;
}

CEncoder::~CEncoder()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::~CEncoder");
    scope.BeginNoResult();
    // After a fault inside LAME the buffer may still be written by it; it is then left alone.
    if (SUCCEEDED(Close(nullptr)))
        ::CoTaskMemFree(m_pOutput);
}

COM::CUnknown* CEncoder::CreateInstance(IUnknown* outer, HRESULT* result)
{
    return new CEncoder(outer, result);
}

HRESULT STDMETHODCALLTYPE CEncoder::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (!IsWritable(ppv, sizeof(*ppv)) || ::IsBadReadPtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IEncoder) {
        *ppv = static_cast<IEncoder*>(this);
        return COM::GetInterface(static_cast<IEncoder*>(this), ppv);
    }
    if (riid == IID_IEncoderSettings) {
        *ppv = static_cast<IEncoderSettings*>(this);
        return COM::GetInterface(static_cast<IEncoderSettings*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// --- input type -------------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CEncoder::CheckInputType(const WAVEFORMATEX* format)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::CheckInputType");
    HRESULT hr = S_OK;
    scope.Begin(&hr, TRACE_ADDRESS, Address(format));
    if (!IsReadable(format, sizeof(WAVEFORMATEX)))
        return hr = E_POINTER;

    bool rateAccepted = false;
    for (const DWORD rate : s_acceptedRates)
        rateAccepted = rateAccepted || format->nSamplesPerSec == rate;
    const bool accepted = format->cbSize == 0 && format->wFormatTag == WAVE_FORMAT_PCM &&
                          (format->nChannels == 1 || format->nChannels == 2) && format->wBitsPerSample == 16 &&
                          rateAccepted;
    return hr = accepted ? S_OK : VFW_E_UNSUPPORTED_AUDIO;
}

HRESULT STDMETHODCALLTYPE CEncoder::SetInputType(const WAVEFORMATEX* format)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::SetInputType");
    HRESULT hr = S_OK;
    scope.Begin(&hr, TRACE_ADDRESS, Address(format));
    hr = static_cast<IEncoder*>(this)->CheckInputType(format);
    if (FAILED(hr))
        return hr;
    std::memcpy(&m_wfxIn, format, sizeof(m_wfxIn));
    m_settings.dwOutSampleRate = format->nSamplesPerSec;
    m_bInputTypeSet = true;
    return hr;
}

HRESULT STDMETHODCALLTYPE CEncoder::GetInputType(WAVEFORMATEX* format)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::GetInputType");
    HRESULT hr = S_OK;
    scope.Begin(&hr, TRACE_ADDRESS, Address(format));
    if (!IsWritable(format, sizeof(WAVEFORMATEX)))
        return hr = E_POINTER;
    if (!m_bInputTypeSet)
        return hr = VFW_E_NO_TYPES;
    std::memcpy(format, &m_wfxIn, sizeof(m_wfxIn));
    return hr;
}

// --- open -------------------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CEncoder::Open()
{
    s_EncoderLog.Print(L"CEncoder::Open() begin\x2026");
    const HRESULT hr = OpenLame();
    s_EncoderLog.PrintOutcome(hr, L"CEncoder::Open() done, return 0x%08X.", hr);
    return hr;
}

HRESULT CEncoder::OpenLame()
{
    if (m_pLame != nullptr)
        return E_UNEXPECTED;
    m_bFlushed = false;
    m_nFramesSeen = 0;
    m_cbFill = 0;
    m_cbRead = 0;
    if (!m_bInputTypeSet || !m_bSettingsValid)
        return E_UNEXPECTED;

    lame_global_flags* lame = nullptr;
    HRESULT hr = Win32::RunGuarded([&] { lame = lame_init(); });
    if (FAILED(hr))
        return hr;
    if (lame == nullptr)
        return E_FAIL;
    m_pLame = lame;

    CStepSequence steps(hr);
    steps.Do([&] { return ConfigureLame(); })
        .Do([&] { return Win32::RunGuarded([&] { lame_init_params(m_pLame); }); })
        .Do([&] { return PrimeWithSilence(); });
    if (FAILED(hr)) {
        // Not open after all: the context goes, so that the next Open can start afresh.
        lame_global_flags* const failed = m_pLame;
        m_pLame = nullptr;
        Win32::RunGuarded([failed] { lame_close(failed); });
        return hr;
    }
    return S_OK;
}

// The setters' results are not looked at: a configuration LAME refuses shows up as a failing Encode.
HRESULT CEncoder::ConfigureLame()
{
    lame_global_flags* const lame = m_pLame;
    const EncoderSettings& s = m_settings;
    const WAVEFORMATEX& wfx = m_wfxIn;
    return Win32::RunGuarded([lame, &s, &wfx] {
        lame_set_num_channels(lame, wfx.nChannels);
        lame_set_in_samplerate(lame, static_cast<int>(wfx.nSamplesPerSec));
        lame_set_out_samplerate(lame, static_cast<int>(s.dwOutSampleRate));
        // 32 kbit/s is the lowest MPEG-1 Layer III rate; lower rates pass unchanged to MPEG-2 and 2.5.
        const DWORD kbps = lame_get_out_samplerate(lame) >= LowestMpeg1Rate && s.dwBitrateKbps < LowestMpeg1Kbps
                               ? LowestMpeg1Kbps
                               : s.dwBitrateKbps;
        lame_set_brate(lame, static_cast<int>(kbps));
        if (s.dwVbrMode >= 0)
            lame_set_VBR(lame, static_cast<vbr_mode>(s.dwVbrMode));
        lame_set_VBR_min_bitrate_kbps(lame, static_cast<int>(s.dwVbrMinKbps));
        lame_set_VBR_max_bitrate_kbps(lame, static_cast<int>(s.dwVbrMaxKbps));
        lame_set_copyright(lame, static_cast<int>(s.bCopyrightBit));
        lame_set_original(lame, static_cast<int>(s.bOriginalBit));
        lame_set_error_protection(lame, static_cast<int>(s.bCrcProtection));
        lame_set_bWriteVbrTag(lame, static_cast<int>(s.bWriteTagFrame));
        lame_set_strict_ISO(lame, static_cast<int>(s.bStrictIso));
        lame_set_VBR_hard_min(lame, static_cast<int>(s.bVbrHardMin));
        const int mode = lame_get_num_channels(lame) == 2 && s.bDownmixToMono == 0
                             ? static_cast<int>(s.dwChannelMode)
                             : static_cast<int>(MONO);
        lame_set_mode(lame, static_cast<MPEG_mode>(mode));
        lame_set_force_ms(lame, lame_get_mode(lame) == JOINT_STEREO ? static_cast<int>(s.bForceMidSide) : 0);
        if (s.bVoiceLowpass != 0)
            lame_set_lowpassfreq(lame, VoiceLowpassHz);
        lame_set_quality(lame, static_cast<int>(s.dwQualityLevel));
        lame_set_VBR_q(lame, static_cast<int>(s.dwVbrQualityLevel));
    });
}

// The stream starts with PrimeSampleFrames of silence. With a tag frame, LAME emits its reserved frame
// here, so that it is the first frame of the buffer.
HRESULT CEncoder::PrimeWithSilence()
{
    short silence[2 * PrimeSampleFrames] = {};
    lame_global_flags* const lame = m_pLame;
    BYTE* const output = m_pOutput;
    int written = 0;
    int channels = 0;
    const HRESULT hr = Win32::RunGuarded([&] {
        channels = lame_get_num_channels(lame);
        if (channels == 2)
            written = lame_encode_buffer_interleaved(lame, silence, PrimeSampleFrames, output, OutputBufferSize);
        else
            written = lame_encode_buffer(lame, silence, silence, PrimeSampleFrames, output, OutputBufferSize);
    });
    if (FAILED(hr))
        return hr;
    // The channel count cannot change while the context lives: Encode uses this copy.
    m_nChannels = channels;
    if (written > 0)
        m_cbFill += written;
    return S_OK;
}

// --- encode -----------------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CEncoder::Encode(const short* pcm, ULONG cbPcm, ULONG* pcbConsumed)
{
    s_EncoderLog.Print(L"CEncoder::Encode( " TRACE_ADDRESS L", %d, " TRACE_ADDRESS L" ) begin\x2026", Address(pcm),
                       cbPcm, Address(pcbConsumed));
    const HRESULT hr = EncodeSamples(pcm, cbPcm, pcbConsumed);
    s_EncoderLog.PrintOutcome(hr, L"CEncoder::Encode() done, return 0x%08X.", hr);
    return hr;
}

HRESULT CEncoder::EncodeSamples(const short* pcm, ULONG cbPcm, ULONG* pcbConsumed)
{
    if (!IsWritable(pcbConsumed, sizeof(*pcbConsumed)))
        return E_POINTER;
    *pcbConsumed = 0;
    if (cbPcm == 0)
        return E_INVALIDARG;
    if (pcm == nullptr)
        return E_POINTER;
    if (m_pLame == nullptr)
        return E_UNEXPECTED;

    SqueezeOutput();
    m_bFlushed = false;

    lame_global_flags* const lame = m_pLame;
    HRESULT hr = S_OK;
    int channels = m_nChannels;
    // Not primed (an Open that failed half-way): the context itself is asked.
    if (channels == 0)
        hr = Win32::RunGuarded([&] { channels = lame_get_num_channels(lame); });
    if (FAILED(hr))
        return hr;
    if (channels < 1)
        return E_FAIL;

    const ULONG bytesPerSampleFrame = 2 * static_cast<ULONG>(channels);
    ULONG consumed = 0;
    while (SUCCEEDED(hr)) {
        ULONG sampleFrames = (cbPcm - consumed) / bytesPerSampleFrame;
        if (sampleFrames == 0 || m_cbFill >= EncodeFillLimit)
            break;
        if (sampleFrames > MaxSampleFramesPerCall)
            sampleFrames = MaxSampleFramesPerCall;
        short* const source = const_cast<short*>(pcm) + consumed / sizeof(short);
        // Exactly the bytes LAME is about to read must be readable.
        if (!IsReadable(source, bytesPerSampleFrame * sampleFrames)) {
            hr = E_POINTER;
            break;
        }
        BYTE* const destination = m_pOutput + m_cbFill;
        const int room = static_cast<int>(OutputBufferSize) - m_cbFill;
        const int count = static_cast<int>(sampleFrames);
        int written = 0;
        if (channels == 2)
            hr = Win32::RunGuarded(
                [&] { written = lame_encode_buffer_interleaved(lame, source, count, destination, room); });
        else
            hr = Win32::RunGuarded(
                [&] { written = lame_encode_buffer(lame, source, source, count, destination, room); });
        if (FAILED(hr))
            break;
        if (written < 0) {
            hr = E_FAIL;
            break;
        }
        m_cbFill += written;
        consumed += bytesPerSampleFrame * sampleFrames;
    }
    *pcbConsumed = consumed;
    return hr;
}

void CEncoder::SqueezeOutput()
{
    if (m_cbRead > 0) {
        if (m_cbFill > m_cbRead)
            std::memmove(m_pOutput, m_pOutput + m_cbRead, static_cast<size_t>(m_cbFill - m_cbRead));
        m_cbFill -= m_cbRead;
    }
    m_cbRead = 0;
}

// --- taking bytes out -------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CEncoder::GetFrame(BYTE** ppFrame, ULONG* pcbFrame)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::GetFrame");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (!IsWritable(ppFrame, sizeof(*ppFrame)) || !IsWritable(pcbFrame, sizeof(*pcbFrame)))
        return hr = E_POINTER;
    *ppFrame = nullptr;
    *pcbFrame = 0;
    if (m_pLame == nullptr)
        return hr = E_UNEXPECTED;

    while (m_cbFill - m_cbRead > FrameHeaderSize) {
        BYTE* const frame = m_pOutput + m_cbRead;
        const int length = GetFrameLength(frame);
        if (length < 0) {
            ++m_cbRead;   // not a frame header: resynchronise byte by byte
            continue;
        }
        if (length > m_cbFill - m_cbRead)
            break;        // the frame is not complete yet
        *ppFrame = frame;
        ++m_nFramesSeen;
        m_cbRead += length;
        // The first frame since Open is passed over: with a tag frame it is LAME's reserved frame, which
        // only Close fills in; without one it holds nothing but the encoder's start-up silence.
        if (m_nFramesSeen == 1)
            continue;
        // Every complete frame is handed out, also the last one of a flushed buffer: a caller that
        // drains frames after Flush gets the whole end of the stream.
        *pcbFrame = static_cast<ULONG>(length);
        break;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CEncoder::GetBlockAligned(ULONG cbAlign, BYTE** ppData, ULONG* pcbAligned,
                                                    ULONG* pcbData)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::GetBlockAligned");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (!IsWritable(ppData, sizeof(*ppData)) || !IsWritable(pcbAligned, sizeof(*pcbAligned)) ||
        !IsWritable(pcbData, sizeof(*pcbData)))
        return hr = E_POINTER;
    *ppData = nullptr;
    *pcbAligned = 0;
    *pcbData = 0;
    if (m_pLame == nullptr)
        return hr = E_UNEXPECTED;

    ULONG bytes = static_cast<ULONG>(m_cbFill - m_cbRead);
    ULONG aligned = bytes;
    if (!m_bFlushed) {
        if (cbAlign > 0)
            bytes -= bytes % cbAlign;
        aligned = bytes;
    } else if (cbAlign > 0 && bytes % cbAlign != 0) {
        aligned = bytes - bytes % cbAlign + cbAlign;
    }
    if (bytes > 0) {
        *ppData = m_pOutput + m_cbRead;
        m_cbRead += static_cast<LONG>(bytes);
    }
    *pcbAligned = aligned;
    *pcbData = bytes;
    return hr;
}

HRESULT STDMETHODCALLTYPE CEncoder::Flush()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::Flush");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (m_pLame == nullptr)
        return hr = E_UNEXPECTED;
    // Bytes already handed out do not count against the room LAME needs for its last frames.
    SqueezeOutput();
    if (m_cbFill >= EncodeFillLimit)
        return hr = E_FAIL;

    lame_global_flags* const lame = m_pLame;
    BYTE* const destination = m_pOutput + m_cbFill;
    const int room = static_cast<int>(OutputBufferSize) - m_cbFill;
    int written = 0;
    hr = Win32::RunGuarded([&] { written = lame_encode_flush(lame, destination, room); });
    if (FAILED(hr))
        return hr;
    // Marked flushed also when LAME reports an error: whatever it wrote before is handed out whole.
    m_bFlushed = true;
    if (written < 0)
        return hr = E_FAIL;
    m_cbFill += written;
    return hr;
}

// --- close and the tag frame ------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CEncoder::Close(IStream* stream)
{
    if (m_pLame == nullptr)
        return S_FALSE;
    lame_global_flags* const lame = m_pLame;
    HRESULT hr = S_OK;
    CTearDown(hr)
        .Do([&] {
            if (stream == nullptr)
                return S_OK;
            if (::IsBadReadPtr(stream, sizeof(void*)))
                return E_POINTER;
            int writesTagFrame = 0;
            const HRESULT guarded = Win32::RunGuarded([&] { writesTagFrame = lame_get_bWriteVbrTag(lame); });
            if (FAILED(guarded) || writesTagFrame == 0)
                return guarded;
            return UpdateLameTagFrame(stream);
        })
        .Do([&] { return Win32::RunGuarded([&] { lame_close(lame); }); });
    m_pLame = nullptr;
    m_nChannels = 0;
    return hr;
}

HRESULT CEncoder::UpdateLameTagFrame(IStream* stream)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::UpdateLameTagFrame");
    HRESULT hr = S_OK;
    scope.Begin(&hr);

    lame_global_flags* const lame = m_pLame;
    size_t needed = 0;
    hr = Win32::RunGuarded([&] { needed = lame_get_lametag_frame(lame, nullptr, 0); });
    if (FAILED(hr))
        return hr;
    // Asked for a tag frame, LAME has none: it left the tag out because it does not fit a frame of this
    // bit rate, or nothing was encoded. The file keeps what it holds, and the caller learns that its
    // tag was not written.
    if (needed == 0)
        return hr = E_FAIL;
    if (needed > MAXDWORD)
        return hr = E_FAIL;
    const ULONG cbTagFrame = static_cast<ULONG>(needed);

    hr = SkipID3V2(stream, cbTagFrame);
    if (FAILED(hr))
        return hr;

    BYTE* const block = static_cast<BYTE*>(::CoTaskMemAlloc(cbTagFrame));
    if (block == nullptr)
        return hr = E_OUTOFMEMORY;
    size_t copied = 0;
    hr = Win32::RunGuarded([&] { copied = lame_get_lametag_frame(lame, block, cbTagFrame); });
    // More than the block holds means LAME copied nothing: there is nothing valid to write.
    if (SUCCEEDED(hr) && copied > cbTagFrame)
        hr = E_FAIL;
    if (SUCCEEDED(hr) && copied > 0) {
        ULONG written = 0;
        hr = stream->Write(block, static_cast<ULONG>(copied), &written);
        if (SUCCEEDED(hr) && written != copied)
            hr = E_FAIL;
    }
    ::CoTaskMemFree(block);
    return hr;
}

HRESULT CEncoder::SkipID3V2(IStream* stream, ULONG cbTagFrame)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::SkipID3V2");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (stream == nullptr)
        return hr = E_POINTER;
    if (cbTagFrame == 0)
        return hr = E_INVALIDARG;

    BYTE header[Id3v2HeaderSize] = {};
    ULONG tagLength = 0;
    auto syncWordAt = [&](ULONGLONG position) {
        HRESULT step = SeekTo(stream, position);
        if (SUCCEEDED(step))
            step = MaybeSyncWord(stream);
        return step == S_FALSE ? E_FAIL : step;
    };
    CStepSequence steps(hr);
    steps.Do([&] { return SeekTo(stream, 0); })
        .Do([&] { return ReadExactly(stream, header, Id3v2HeaderSize); })
        .Do([&] {
            // An ID3v2 tag: "ID3", version, flags, then a 28-bit syncsafe size that leaves out the
            // 10-byte header.
            if (header[0] == 'I' && header[1] == 'D' && header[2] == '3')
                tagLength = ((header[6] & 0x7FUL) << 21 | (header[7] & 0x7FUL) << 14 | (header[8] & 0x7FUL) << 7 |
                             (header[9] & 0x7FUL)) +
                            Id3v2HeaderSize;
            return syncWordAt(tagLength);
        })
        .Do([&] { return syncWordAt(static_cast<ULONGLONG>(tagLength) + cbTagFrame); })
        .Do([&] { return SeekTo(stream, tagLength); });
    return hr;
}

HRESULT CEncoder::MaybeSyncWord(IStream* stream)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::MaybeSyncWord");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (stream == nullptr)
        return hr = E_POINTER;
    BYTE bytes[SyncWordProbeSize] = {};
    hr = ReadExactly(stream, bytes, SyncWordProbeSize);
    if (FAILED(hr))
        return hr;
    return hr = bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0 ? S_OK : S_FALSE;
}

// --- settings ---------------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CEncoder::GetEncoderSettings(EncoderSettings* settings)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::GetEncoderSettings");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (!IsWritable(settings, sizeof(*settings)))
        return hr = E_POINTER;
    if (!m_bSettingsValid)
        return hr = E_UNEXPECTED;
    std::memcpy(settings, &m_settings, sizeof(m_settings));
    return hr;
}

HRESULT STDMETHODCALLTYPE CEncoder::SetEncoderSettings(const EncoderSettings* settings)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::SetEncoderSettings");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (!IsReadable(settings, sizeof(*settings)))
        return hr = E_POINTER;
    std::memcpy(&m_settings, settings, sizeof(m_settings));
    m_bSettingsValid = true;
    return hr;
}

void STDMETHODCALLTYPE CEncoder::SetDefaultEncoderSettings()
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::SetDefaultEncoderSettings");
    scope.BeginNoResult();
    EncoderSettings& s = m_settings;
    s = EncoderSettings{};
    s.dwOutSampleRate = 44100;
    s.dwBitrateKbps = 128;
    s.dwVbrMode = 0;
    s.dwVbrMinKbps = 80;
    s.dwVbrMaxKbps = 80;
    s.dwQualityLevel = 5;
    s.dwVbrQualityLevel = 4;
    s.dwReserved1 = 3;
    s.dwChannelMode = JOINT_STEREO;
    s.dwReserved2 = 1;
    s.dwReserved7 = 1;
    m_bSettingsValid = true;
}

HRESULT STDMETHODCALLTYPE CEncoder::GetSizeofOutputBuffer(ULONG* pcb)
{
    CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CEncoder::GetSizeofOutputBuffer");
    HRESULT hr = S_OK;
    scope.Begin(&hr);
    if (!IsWritable(pcb, sizeof(*pcb)))
        return hr = E_POINTER;
    *pcb = OutputBufferSize;
    return hr;
}

} // namespace MPEG2AudioEncoder
