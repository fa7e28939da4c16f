#include "acm_codec.h"

#include <vfwmsgs.h>

#include <cstring>
#include <new>

namespace CapturePlatform {

CAcmCodec::~CAcmCodec()
{
    Close();
}

HRESULT CAcmCodec::ResultOf(MMRESULT result)
{
    switch (result) {
    case MMSYSERR_NOERROR:
        return S_OK;
    case MMSYSERR_NOMEM:
        return E_OUTOFMEMORY;
    case MMSYSERR_INVALPARAM:
    case MMSYSERR_INVALFLAG:
        return E_INVALIDARG;
    case ACMERR_NOTPOSSIBLE:
        return VFW_E_TYPE_NOT_ACCEPTED;
    default:
        return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x7000 | (result & 0xFFF));
    }
}

HRESULT CAcmCodec::SuggestFormat(const WAVEFORMATEX& pcm, WORD tag, std::vector<BYTE>* format)
{
    if (format == nullptr)
        return E_POINTER;
    DWORD largest = 0;
    MMRESULT mm = ::acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &largest);
    if (mm != MMSYSERR_NOERROR)
        return ResultOf(mm);
    if (largest < sizeof(WAVEFORMATEX))
        largest = sizeof(WAVEFORMATEX);
    try {
        format->assign(largest, 0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    WAVEFORMATEX* const target = reinterpret_cast<WAVEFORMATEX*>(format->data());
    if (tag == WAVE_FORMAT_PCM) {
        *target = pcm;
        target->cbSize = 0;
    } else {
        // Some drivers (GSM 6.10) want the extra bytes announced before they suggest.
        ACMFORMATTAGDETAILSW details = {};
        details.cbStruct = sizeof(details);
        details.dwFormatTag = tag;
        if (::acmFormatTagDetailsW(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG) != MMSYSERR_NOERROR)
            return VFW_E_TYPE_NOT_ACCEPTED;
        target->wFormatTag = tag;
        target->nChannels = pcm.nChannels;
        target->nSamplesPerSec = pcm.nSamplesPerSec;
        if (details.cbFormatSize > sizeof(WAVEFORMATEX))
            target->cbSize = static_cast<WORD>(details.cbFormatSize - sizeof(WAVEFORMATEX));
        mm = ::acmFormatSuggest(nullptr, const_cast<WAVEFORMATEX*>(&pcm), target, largest,
                                ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                    ACM_FORMATSUGGESTF_NSAMPLESPERSEC);
        if (mm != MMSYSERR_NOERROR)
            return ResultOf(mm);
    }
    const ULONG bytes = tag == WAVE_FORMAT_PCM ? sizeof(WAVEFORMATEX) : sizeof(WAVEFORMATEX) + target->cbSize;
    if (bytes > format->size())
        return E_UNEXPECTED;
    format->resize(bytes);
    // The conversion must exist, not only the format.
    mm = ::acmStreamOpen(nullptr, nullptr, const_cast<WAVEFORMATEX*>(&pcm),
                         reinterpret_cast<WAVEFORMATEX*>(format->data()), nullptr, 0, 0, ACM_STREAMOPENF_QUERY);
    return mm == MMSYSERR_NOERROR ? S_OK : ResultOf(mm);
}

HRESULT CAcmCodec::Open(const WAVEFORMATEX& source, const WAVEFORMATEX* target)
{
    Close();
    if (target == nullptr)
        return E_POINTER;
    MMRESULT mm = ::acmStreamOpen(&m_stream, nullptr, const_cast<WAVEFORMATEX*>(&source),
                                  const_cast<WAVEFORMATEX*>(target), nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME);
    if (mm != MMSYSERR_NOERROR) {
        m_stream = nullptr;
        return ResultOf(mm);
    }
    DWORD sourceBlock = 0;
    mm = ::acmStreamSize(m_stream, target->nBlockAlign, &sourceBlock, ACM_STREAMSIZEF_DESTINATION);
    if (mm != MMSYSERR_NOERROR || sourceBlock == 0 || sourceBlock % source.nBlockAlign != 0) {
        Close();
        return mm != MMSYSERR_NOERROR ? ResultOf(mm) : E_UNEXPECTED;
    }
    m_sourceBlock = sourceBlock;
    m_targetBlock = target->nBlockAlign;
    m_started = false;
    return S_OK;
}

void CAcmCodec::Close()
{
    if (m_stream != nullptr)
        ::acmStreamClose(m_stream, 0);
    m_stream = nullptr;
    m_sourceBlock = 0;
    m_targetBlock = 0;
}

HRESULT CAcmCodec::Convert(const BYTE* source, ULONG sourceBytes, BYTE* target, ULONG targetRoom, ULONG* written)
{
    if (written == nullptr || source == nullptr || target == nullptr)
        return E_POINTER;
    *written = 0;
    if (m_stream == nullptr)
        return E_UNEXPECTED;
    if (sourceBytes == 0)
        return S_OK;
    if (sourceBytes % m_sourceBlock != 0 || targetRoom < sourceBytes / m_sourceBlock * m_targetBlock)
        return E_INVALIDARG;
    ACMSTREAMHEADER header = {};
    header.cbStruct = sizeof(header);
    header.pbSrc = const_cast<BYTE*>(source);
    header.cbSrcLength = sourceBytes;
    header.pbDst = target;
    header.cbDstLength = targetRoom;
    MMRESULT mm = ::acmStreamPrepareHeader(m_stream, &header, 0);
    if (mm != MMSYSERR_NOERROR)
        return ResultOf(mm);
    const DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN | (m_started ? 0 : ACM_STREAMCONVERTF_START);
    mm = ::acmStreamConvert(m_stream, &header, flags);
    m_started = true;
    const MMRESULT unprepared = ::acmStreamUnprepareHeader(m_stream, &header, 0);
    if (mm == MMSYSERR_NOERROR)
        mm = unprepared;
    if (mm != MMSYSERR_NOERROR)
        return ResultOf(mm);
    if (header.cbSrcLengthUsed != sourceBytes)
        return E_UNEXPECTED;
    *written = header.cbDstLengthUsed;
    return S_OK;
}

} // namespace CapturePlatform
