#include "media_formats.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>

namespace CapturePlatform {

GUID SubtypeOfTag(WORD tag)
{
    GUID subtype = MEDIASUBTYPE_PCM;
    subtype.Data1 = tag;
    return subtype;
}

ULONG WaveFormatBytes(const WAVEFORMATEX& format)
{
    return format.wFormatTag == WAVE_FORMAT_PCM ? sizeof(WAVEFORMATEX) : sizeof(WAVEFORMATEX) + format.cbSize;
}

bool IsConsistentPcm(const WAVEFORMATEX& format)
{
    if (format.wFormatTag != WAVE_FORMAT_PCM || (format.nChannels != 1 && format.nChannels != 2) ||
        (format.wBitsPerSample != 8 && format.wBitsPerSample != 16) || format.nSamplesPerSec == 0)
        return false;
    const WORD blockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    return format.nBlockAlign == blockAlign && format.nAvgBytesPerSec == format.nSamplesPerSec * blockAlign;
}

HRESULT ReadPcmFormat(const AM_MEDIA_TYPE* pmt, WAVEFORMATEX* format)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)) || format == nullptr ||
        ::IsBadWritePtr(format, sizeof(*format)))
        return E_POINTER;
    if (pmt->majortype != MEDIATYPE_Audio || pmt->subtype != MEDIASUBTYPE_PCM ||
        pmt->formattype != FORMAT_WaveFormatEx || pmt->cbFormat < sizeof(PCMWAVEFORMAT) || pmt->pbFormat == nullptr)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (::IsBadReadPtr(pmt->pbFormat, pmt->cbFormat))
        return E_POINTER;
    // A PCMWAVEFORMAT (16 bytes) is a WAVEFORMATEX without cbSize.
    WAVEFORMATEX read = {};
    std::memcpy(&read, pmt->pbFormat, sizeof(PCMWAVEFORMAT));
    read.cbSize = 0;
    if (!IsConsistentPcm(read))
        return VFW_E_TYPE_NOT_ACCEPTED;
    *format = read;
    return S_OK;
}

HRESULT MakeAudioMediaType(const WAVEFORMATEX& format, AM_MEDIA_TYPE* pmt)
{
    const ULONG bytes = WaveFormatBytes(format);
    BYTE* const block = static_cast<BYTE*>(::CoTaskMemAlloc(bytes));
    if (block == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(block, &format, bytes);
    if (format.wFormatTag == WAVE_FORMAT_PCM)
        reinterpret_cast<WAVEFORMATEX*>(block)->cbSize = 0;
    pmt->majortype = MEDIATYPE_Audio;
    pmt->subtype = SubtypeOfTag(format.wFormatTag);
    pmt->bFixedSizeSamples = TRUE;
    pmt->bTemporalCompression = FALSE;
    pmt->lSampleSize = format.nBlockAlign;
    pmt->formattype = FORMAT_WaveFormatEx;
    pmt->pUnk = nullptr;
    pmt->cbFormat = bytes;
    pmt->pbFormat = block;
    return S_OK;
}

bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b)
{
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype ||
        a.cbFormat != b.cbFormat)
        return false;
    if (a.cbFormat == 0)
        return true;
    return a.pbFormat != nullptr && b.pbFormat != nullptr && std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

} // namespace CapturePlatform
