#include "pcm_settings.h"

#include "stdax/media_type_operations.h"

#include <uuids.h>

namespace PcmSource {

namespace {

constexpr LONGLONG UnitsPerSecond = 10000000;

} // namespace

HRESULT CheckSettings(const Settings& s)
{
    if (s.channels != 1 && s.channels != 2)
        return E_INVALIDARG;
    if (s.bitsPerSample != 8 && s.bitsPerSample != 16)
        return E_INVALIDARG;
    if (s.sampleRate == 0 || s.sampleRate > 384000)
        return E_INVALIDARG;
    if (!(s.amplitude >= 0.0 && s.amplitude <= 1.0))
        return E_INVALIDARG;
    if (s.bufferMilliseconds == 0 || s.bufferMilliseconds > 10000 || FramesPerBuffer(s) == 0)
        return E_INVALIDARG;
    if (s.buffers < 1)
        return E_INVALIDARG;
    return S_OK;
}

WAVEFORMATEX WaveFormatOf(const Settings& s)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = s.channels;
    format.nSamplesPerSec = s.sampleRate;
    format.wBitsPerSample = s.bitsPerSample;
    format.nBlockAlign = static_cast<WORD>(BytesPerFrame(s));
    format.nAvgBytesPerSec = s.sampleRate * format.nBlockAlign;
    format.cbSize = 0;
    return format;
}

ULONG BytesPerFrame(const Settings& s)
{
    return static_cast<ULONG>(s.channels) * (s.bitsPerSample / 8);
}

ULONG FramesPerBuffer(const Settings& s)
{
    return static_cast<ULONG>(static_cast<ULONGLONG>(s.sampleRate) * s.bufferMilliseconds / 1000);
}

LONGLONG TotalFrames(const Settings& s)
{
    if (s.length < 0)
        return -1;
    return s.length * static_cast<LONGLONG>(s.sampleRate) / UnitsPerSecond;
}

REFERENCE_TIME TimeOfFrame(const Settings& s, LONGLONG frame)
{
    return frame * UnitsPerSecond / static_cast<LONGLONG>(s.sampleRate);
}

HRESULT MakeMediaType(const Settings& s, AM_MEDIA_TYPE* mt)
{
    stdax::FreeMediaTypeContents(mt);
    mt->bTemporalCompression = FALSE;
    mt->bFixedSizeSamples = TRUE;
    if (s.streamOutput) {
        mt->majortype = MEDIATYPE_Stream;
        mt->subtype = GUID_NULL;
        mt->formattype = FORMAT_None;
        mt->lSampleSize = 1;
        return S_OK;
    }
    mt->majortype = MEDIATYPE_Audio;
    mt->subtype = MEDIASUBTYPE_PCM;
    mt->formattype = FORMAT_WaveFormatEx;
    mt->lSampleSize = BytesPerFrame(s);
    BYTE* const block = stdax::ReallocateFormatBlock(mt, sizeof(WAVEFORMATEX));
    if (block == nullptr)
        return E_OUTOFMEMORY;
    const WAVEFORMATEX format = WaveFormatOf(s);
    ::CopyMemory(block, &format, sizeof(format));
    return S_OK;
}

} // namespace PcmSource
