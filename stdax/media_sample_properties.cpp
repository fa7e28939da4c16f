#include "stdax/media_sample_properties.h"

#include "stdax/com/pointer_probes.h"
#include "stdax/media_type_operations.h"

#include <cstring>

namespace stdax {

namespace {

void ClearProperties(AM_SAMPLE2_PROPERTIES* properties)
{
    std::memset(properties, 0, sizeof(*properties));
    properties->cbData = sizeof(*properties);
}

} // namespace

CMediaSampleProperties::CMediaSampleProperties()
    : m_read(FALSE), m_properties(), m_mediaTimeValid(FALSE), m_mediaStart(0), m_mediaStop(0)
{
    ClearProperties(&m_properties);
}

CMediaSampleProperties::~CMediaSampleProperties()
{
    Reset();
}

HRESULT CMediaSampleProperties::Reset()
{
    const HRESULT hr = DirectShow::FreeMediaType(&m_mediaType);
    ClearProperties(&m_properties);
    m_mediaTimeValid = FALSE;
    m_mediaStart = 0;
    m_mediaStop = 0;
    if (SUCCEEDED(hr))
        m_read = FALSE;
    return hr;
}

HRESULT CMediaSampleProperties::ReadFrom(IMediaSample* pSample)
{
    if (COM::IsBadInterface(pSample))
        return E_POINTER;
    if (m_read)
        return E_UNEXPECTED;
    const HRESULT hr = ReadProperties(pSample);
    // A failed read leaves nothing behind for the next one to build on.
    if (FAILED(hr))
        Reset();
    return hr;
}

HRESULT CMediaSampleProperties::ReadProperties(IMediaSample* pSample)
{
    m_mediaTimeValid = pSample->GetMediaTime(&m_mediaStart, &m_mediaStop) == S_OK;

    HRESULT hr = pSample->IsDiscontinuity();
    if (FAILED(hr))
        return hr;
    if (hr == S_OK)
        m_properties.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    hr = pSample->IsPreroll();
    if (FAILED(hr))
        return hr;
    if (hr == S_OK)
        m_properties.dwSampleFlags |= AM_SAMPLE_PREROLL;
    hr = pSample->IsSyncPoint();
    if (FAILED(hr))
        return hr;
    if (hr == S_OK)
        m_properties.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;

    // A sample without times is no failure.
    hr = pSample->GetTime(&m_properties.tStart, &m_properties.tStop);
    if (hr == S_OK)
        m_properties.dwSampleFlags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
    else if (hr == VFW_S_NO_STOP_TIME)
        m_properties.dwSampleFlags |= AM_SAMPLE_TIMEVALID;

    hr = ReadMediaType(pSample);
    if (FAILED(hr))
        return hr;

    hr = pSample->GetPointer(&m_properties.pbBuffer);
    if (FAILED(hr))
        return hr;
    m_properties.cbBuffer = pSample->GetSize();
    m_properties.lActual = pSample->GetActualDataLength();
    m_read = TRUE;
    return S_OK;
}

HRESULT CMediaSampleProperties::ReadMediaType(IMediaSample* pSample)
{
    AM_MEDIA_TYPE* type = nullptr;
    if (pSample->GetMediaType(&type) != S_OK || type == nullptr)
        return S_OK;
    const HRESULT copied = m_mediaType.CopyFrom(type);
    if (SUCCEEDED(copied))
        m_properties.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
    const HRESULT deleted = DirectShow::DeleteMediaType(&type);
    // A format block announced with length 0 makes the validating delete refuse the record; it is
    // still the sample's copy for us, and goes with its block and its reference.
    if (deleted == E_INVALIDARG)
        DeleteMediaTypeRecord(type);
    return FAILED(copied) ? copied : (FAILED(deleted) ? deleted : S_OK);
}

} // namespace stdax
