#pragma once
// stdax::CMediaSampleProperties: every property of one incoming IMediaSample read into one record:
// flags (discontinuity, preroll, sync point, times valid, type changed), sample and media times,
// buffer, size and valid length, and a copy of the media type the sample carried.
//
// Read once per sample: a second ReadFrom before Reset is refused. The record's pMediaType stays
// null; the carried type is MediaType(), valid when AM_SAMPLE_TYPECHANGED is set.
#include "support/media_type.h"

#include <windows.h>
#include <strmif.h>

namespace stdax {

class CMediaSampleProperties {
public:
    CMediaSampleProperties();
    virtual ~CMediaSampleProperties();

    CMediaSampleProperties(const CMediaSampleProperties&) = delete;
    CMediaSampleProperties& operator=(const CMediaSampleProperties&) = delete;

    // E_POINTER for an unusable sample, E_UNEXPECTED when already read; otherwise the first failure
    // of the sample's flag, media type or buffer queries (a sample without times is no failure),
    // after which the record is reset.
    HRESULT ReadFrom(IMediaSample* pSample);
    // Frees the media type, clears the record; ready for the next ReadFrom unless freeing failed.
    HRESULT Reset();

    bool IsRead() const { return m_read != FALSE; }
    const AM_SAMPLE2_PROPERTIES& Properties() const { return m_properties; }
    DWORD Flags() const { return m_properties.dwSampleFlags; }
    bool HasFlag(DWORD flag) const { return (m_properties.dwSampleFlags & flag) != 0; }
    bool MediaTimeValid() const { return m_mediaTimeValid != FALSE; }
    REFERENCE_TIME MediaStart() const { return m_mediaStart; }
    REFERENCE_TIME MediaStop() const { return m_mediaStop; }
    const DirectShow::CMediaType& MediaType() const { return m_mediaType; }

private:
    HRESULT ReadProperties(IMediaSample* pSample);
    HRESULT ReadMediaType(IMediaSample* pSample);

    BYTE m_read;
    AM_SAMPLE2_PROPERTIES m_properties;
    BYTE m_mediaTimeValid;
    REFERENCE_TIME m_mediaStart;
    REFERENCE_TIME m_mediaStop;
    DirectShow::CMediaType m_mediaType;
};

} // namespace stdax
