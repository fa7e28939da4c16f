#pragma once
// Audio media type records as the capture device, the tee and the compressors of this module build
// and check them: MEDIATYPE_Audio, the wave-format subtype of the format tag, FORMAT_WaveFormatEx.
#include <windows.h>
#include <mmreg.h>
#include <strmif.h>

namespace CapturePlatform {

// The subtype that stands for a wave format tag: MEDIASUBTYPE_PCM with the tag as its first field,
// {tag-0000-0010-8000-00AA00389B71}.
GUID SubtypeOfTag(WORD tag);

// The bytes of a WAVEFORMATEX including its cbSize extra bytes.
ULONG WaveFormatBytes(const WAVEFORMATEX& format);

// Whether the fields of a PCM format agree with each other: tag 1, 1 or 2 channels, 8 or 16 bits,
// a rate above 0, nBlockAlign and nAvgBytesPerSec as the other fields make them.
bool IsConsistentPcm(const WAVEFORMATEX& format);

// The WAVEFORMATEX of an Audio / PCM / WaveFormatEx record whose PCM fields agree (see above), with
// cbSize taken as 0. E_POINTER for an unreadable record or format block, VFW_E_TYPE_NOT_ACCEPTED for
// any other record.
HRESULT ReadPcmFormat(const AM_MEDIA_TYPE* pmt, WAVEFORMATEX* format);

// Fills an initialised record (holding no format block) with MEDIATYPE_Audio, the subtype of the
// format's tag, FORMAT_WaveFormatEx and a copy of the format with its extra bytes; samples of fixed
// size nBlockAlign. E_OUTOFMEMORY without memory for the format block.
HRESULT MakeAudioMediaType(const WAVEFORMATEX& format, AM_MEDIA_TYPE* pmt);

// Whether two records describe the same stream: major type, subtype, format type and format bytes.
bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

} // namespace CapturePlatform
