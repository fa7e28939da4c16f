#include "push_source.h"

#include "stdax/media_type_operations.h"

#include <mmreg.h>
#include <uuids.h>

#include <cstring>

namespace PushSource {

namespace {

// {6F3A9C21-58B4-4E0D-8A17-2C9E5B7D1F43}
const CLSID CLSID_PushSource = {0x6f3a9c21, 0x58b4, 0x4e0d, {0x8a, 0x17, 0x2c, 0x9e, 0x5b, 0x7d, 0x1f, 0x43}};

} // namespace

void MakeWaveType(AM_MEDIA_TYPE* mt, WORD tag, WORD channels, DWORD rate, WORD bits, WORD blockAlign,
                  DWORD avgBytesPerSec, const std::vector<BYTE>& extra)
{
    stdax::InitializeMediaType(mt);
    mt->majortype = MEDIATYPE_Audio;
    // The platform's audio subtypes are the tag in the first field of a fixed GUID.
    mt->subtype = MEDIASUBTYPE_PCM;
    mt->subtype.Data1 = tag;
    mt->formattype = FORMAT_WaveFormatEx;
    const ULONG length = static_cast<ULONG>(sizeof(WAVEFORMATEX) + extra.size());
    BYTE* block = stdax::ReallocateFormatBlock(mt, length);
    auto* format = reinterpret_cast<WAVEFORMATEX*>(block);
    format->wFormatTag = tag;
    format->nChannels = channels;
    format->nSamplesPerSec = rate;
    format->nAvgBytesPerSec = avgBytesPerSec;
    format->nBlockAlign = blockAlign;
    format->wBitsPerSample = bits;
    format->cbSize = static_cast<WORD>(extra.size());
    if (!extra.empty())
        std::memcpy(block + sizeof(WAVEFORMATEX), extra.data(), extra.size());
    mt->lSampleSize = blockAlign;
}

void MakePcmType(AM_MEDIA_TYPE* mt, WORD channels, DWORD rate, WORD bits)
{
    const WORD align = static_cast<WORD>(channels * ((bits + 7) / 8));
    MakeWaveType(mt, WAVE_FORMAT_PCM, channels, rate, bits, align, rate * align);
}

// --- pin ----------------------------------------------------------------------------------------------

COutputPin::COutputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBaseOutputPin(filter, filter->FilterLock(), setup, nullptr, result), m_owner(filter)
{
}

HRESULT COutputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return E_POINTER;
    const AM_MEDIA_TYPE& own = m_owner->Type();
    if (pmt->majortype != own.majortype || pmt->subtype != own.subtype || pmt->formattype != own.formattype ||
        pmt->cbFormat != own.cbFormat)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (own.cbFormat != 0 && std::memcmp(pmt->pbFormat, own.pbFormat, own.cbFormat) != 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT COutputPin::OnGetMediaType(int, AM_MEDIA_TYPE* pmt)
{
    const AM_MEDIA_TYPE& own = m_owner->Type();
    pmt->formattype = own.formattype;
    pmt->bFixedSizeSamples = own.bFixedSizeSamples;
    pmt->lSampleSize = own.lSampleSize;
    if (own.cbFormat != 0) {
        BYTE* block = stdax::ReallocateFormatBlock(pmt, own.cbFormat);
        if (block == nullptr)
            return E_OUTOFMEMORY;
        std::memcpy(block, own.pbFormat, own.cbFormat);
    }
    return S_OK;
}

HRESULT COutputPin::CompleteConnect(IPin* pReceivePin)
{
    const HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr))
        return hr;
    return DecideAllocator(m_inputPin, &m_allocator);
}

HRESULT COutputPin::OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties)
{
    if (pProperties->cbBuffer < m_owner->BufferSize())
        pProperties->cbBuffer = m_owner->BufferSize();
    if (pProperties->cBuffers < 2)
        pProperties->cBuffers = 2;
    return S_OK;
}

HRESULT COutputPin::Active()
{
    return m_allocator.IsNull() ? VFW_E_NO_ALLOCATOR : m_allocator->Commit();
}

// --- filter -------------------------------------------------------------------------------------------

CFilterRecords::CFilterRecords(const AM_MEDIA_TYPE& type, LONG bufferSize)
    : m_type(), m_bufferSize(bufferSize), m_typeRecord{&m_type.majortype, &m_type.subtype},
      m_pinRecord{const_cast<LPWSTR>(L"Output"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 1, &m_typeRecord},
      m_filterRecord{&CLSID_PushSource, L"Push Source", MERIT_DO_NOT_USE, 1, &m_pinRecord}
{
    stdax::CopyMediaTypeContents(&m_type, &type);
}

CFilterRecords::~CFilterRecords()
{
    stdax::FreeMediaTypeContents(&m_type);
}

CFilter* CFilter::Create(const AM_MEDIA_TYPE& type, LONG bufferSize)
{
    HRESULT hr = S_OK;
    CFilter* const filter = new CFilter(type, bufferSize, &hr);
    if (filter == nullptr)
        return nullptr;
    if (FAILED(hr)) {
        delete static_cast<COM::CUnknown*>(filter);
        return nullptr;
    }
    filter->NonDelegatingAddRef();
    return filter;
}

CFilter::CFilter(const AM_MEDIA_TYPE& type, LONG bufferSize, HRESULT* result)
    : CFilterRecords(type, bufferSize), CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_pin = new COutputPin(this, &m_pinRecord, result);
    if (m_pin == nullptr)
        *result = E_OUTOFMEMORY;
}

CFilter::~CFilter()
{
    delete static_cast<COM::CUnknown*>(m_pin);
}

HRESULT STDMETHODCALLTYPE CFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state != State_Stopped && m_pin->IsConnected())
        m_pin->Inactive();
    m_state = State_Stopped;
    return S_OK;
}

HRESULT CFilter::Deliver(const BYTE* data, LONG length, const AM_MEDIA_TYPE* newType, const SampleStamp& stamp)
{
    IMediaSample* sample = nullptr;
    HRESULT hr = m_pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    BYTE* buffer = nullptr;
    hr = sample->GetPointer(&buffer);
    if (SUCCEEDED(hr) && length > sample->GetSize())
        hr = E_INVALIDARG;
    if (SUCCEEDED(hr)) {
        if (length > 0)
            std::memcpy(buffer, data, length);
        hr = sample->SetActualDataLength(length);
    }
    if (SUCCEEDED(hr) && newType != nullptr)
        hr = sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(newType));
    // A reused buffer keeps nothing of its last use.
    if (SUCCEEDED(hr))
        hr = sample->SetTime(const_cast<REFERENCE_TIME*>(stamp.start), const_cast<REFERENCE_TIME*>(stamp.stop));
    if (SUCCEEDED(hr))
        hr = sample->SetDiscontinuity(stamp.discontinuity ? TRUE : FALSE);
    if (SUCCEEDED(hr))
        hr = m_pin->Deliver(sample);
    sample->Release();
    return hr;
}

} // namespace PushSource
