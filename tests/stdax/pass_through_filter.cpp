#include "pass_through_filter.h"

#include "stdax/media_type_operations.h"

#include <uuids.h>

#include <algorithm>

namespace StdaxTest {

namespace {

// {3E7A1C94-5B28-4D6F-8E01-A9B2C3D4E5F6}
const CLSID CLSID_PassThroughFilter = {0x3e7a1c94, 0x5b28, 0x4d6f, {0x8e, 0x01, 0xa9, 0xb2, 0xc3, 0xd4, 0xe5, 0xf6}};

bool SameType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b)
{
    return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
           a.cbFormat == b.cbFormat && (a.cbFormat == 0 || ::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

} // namespace

// --- input --------------------------------------------------------------------------------------------

CPassThroughInputPin::CPassThroughInputPin(CPassThroughFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBaseInputPin(filter, filter->FilterLock(), setup, nullptr, result), m_owner(filter)
{
}

HRESULT STDMETHODCALLTYPE CPassThroughInputPin::Receive(IMediaSample* pSample)
{
    Synchronization::CAutoLock lock(&m_owner->m_receiveLock);
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    return m_owner->Transform(pSample);
}

HRESULT STDMETHODCALLTYPE CPassThroughInputPin::EndOfStream()
{
    Synchronization::CAutoLock lock(&m_owner->m_receiveLock);
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    return m_owner->Output()->DeliverEndOfStream();
}

HRESULT STDMETHODCALLTYPE CPassThroughInputPin::BeginFlush()
{
    const HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr))
        return hr;
    return m_owner->Output()->DeliverBeginFlush();
}

HRESULT STDMETHODCALLTYPE CPassThroughInputPin::EndFlush()
{
    const HRESULT hr = m_owner->Output()->DeliverEndFlush();
    Synchronization::CAutoLock lock(m_lock);
    m_flushing = FALSE;
    return hr;
}

HRESULT STDMETHODCALLTYPE CPassThroughInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    CBaseInputPin::NewSegment(tStart, tStop, dRate);
    return m_owner->Output()->DeliverNewSegment(tStart, tStop, dRate);
}

// --- output -------------------------------------------------------------------------------------------

CPassThroughOutputPin::CPassThroughOutputPin(CPassThroughFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBaseOutputPin(filter, filter->FilterLock(), setup, nullptr, result), m_owner(filter)
{
}

HRESULT CPassThroughOutputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return E_POINTER;
    const CPassThroughInputPin* const input = m_owner->Input();
    if (!input->IsConnected())
        return VFW_E_NOT_CONNECTED;
    return SameType(*pmt, input->ConnectionType()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CPassThroughOutputPin::OnGetMediaType(int, AM_MEDIA_TYPE* pmt)
{
    const CPassThroughInputPin* const input = m_owner->Input();
    if (!input->IsConnected())
        return VFW_E_NOT_CONNECTED;
    return stdax::AssignMediaType(pmt, &input->ConnectionType());
}

HRESULT CPassThroughOutputPin::CompleteConnect(IPin* pReceivePin)
{
    const HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    return FAILED(hr) ? hr : DecideAllocator(m_inputPin, &m_allocator);
}

HRESULT CPassThroughOutputPin::OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties)
{
    ALLOCATOR_PROPERTIES input = {};
    const HRESULT hr = m_owner->Input()->GetAllocatorProperties(&input);
    if (FAILED(hr))
        return hr;
    pProperties->cbBuffer = std::max(pProperties->cbBuffer, input.cbBuffer);
    pProperties->cBuffers = std::max<LONG>(pProperties->cBuffers, 2);
    return S_OK;
}

HRESULT CPassThroughOutputPin::Active()
{
    return m_allocator.IsNull() ? VFW_E_NO_ALLOCATOR : m_allocator->Commit();
}

// --- filter -------------------------------------------------------------------------------------------

CPassThroughRecords::CPassThroughRecords()
    : m_type{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM},
      m_pinRecords{{const_cast<LPWSTR>(L"In"), FALSE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, &m_type},
                   {const_cast<LPWSTR>(L"Out"), FALSE, TRUE, FALSE, FALSE, nullptr, nullptr, 1, &m_type}},
      m_filterRecord{&CLSID_PassThroughFilter, L"Pass-Through Test Filter", MERIT_DO_NOT_USE, 2, m_pinRecords}
{
}

CPassThroughFilter::CPassThroughFilter(HRESULT* result)
    : CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_input = new CPassThroughInputPin(this, &m_pinRecords[0], result);
    m_output = new CPassThroughOutputPin(this, &m_pinRecords[1], result);
    if (m_input == nullptr || m_output == nullptr)
        *result = E_OUTOFMEMORY;
}

CPassThroughFilter::~CPassThroughFilter()
{
    delete static_cast<COM::CUnknown*>(m_output);
    delete static_cast<COM::CUnknown*>(m_input);
}

CPassThroughFilter* CPassThroughFilter::Create()
{
    HRESULT hr = S_OK;
    CPassThroughFilter* const filter = new CPassThroughFilter(&hr);
    if (filter == nullptr)
        return nullptr;
    if (FAILED(hr)) {
        delete static_cast<COM::CUnknown*>(filter);
        return nullptr;
    }
    filter->NonDelegatingAddRef();
    return filter;
}

stdax::CBasePin* CPassThroughFilter::GetPin(int n)
{
    if (n == 0)
        return m_input;
    return n == 1 ? m_output : nullptr;
}

HRESULT STDMETHODCALLTYPE CPassThroughFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped) {
        if (m_input->IsConnected())
            hr = m_input->Inactive();
        Synchronization::CAutoLock receiving(&m_receiveLock);
        if (m_output->IsConnected()) {
            const HRESULT out = m_output->Inactive();
            if (SUCCEEDED(hr))
                hr = out;
        }
    }
    m_state = State_Stopped;
    return hr;
}

HRESULT CPassThroughFilter::Transform(IMediaSample* in)
{
    IMediaSample* out = nullptr;
    HRESULT hr = m_output->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    BYTE* source = nullptr;
    BYTE* target = nullptr;
    hr = in->GetPointer(&source);
    if (SUCCEEDED(hr))
        hr = out->GetPointer(&target);
    if (SUCCEEDED(hr)) {
        const LONG length = in->GetActualDataLength();
        hr = length <= out->GetSize() ? S_OK : VFW_E_BUFFER_OVERFLOW;
        if (SUCCEEDED(hr)) {
            ::CopyMemory(target, source, length);
            hr = out->SetActualDataLength(length);
        }
    }
    if (SUCCEEDED(hr)) {
        REFERENCE_TIME start = 0, stop = 0;
        const HRESULT timed = in->GetTime(&start, &stop);
        if (timed == S_OK)
            out->SetTime(&start, &stop);
        else if (timed == VFW_S_NO_STOP_TIME)
            out->SetTime(&start, nullptr);
        LONGLONG mediaStart = 0, mediaStop = 0;
        if (in->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
            out->SetMediaTime(&mediaStart, &mediaStop);
        out->SetSyncPoint(in->IsSyncPoint() == S_OK);
        out->SetDiscontinuity(in->IsDiscontinuity() == S_OK);
        out->SetPreroll(in->IsPreroll() == S_OK);
        hr = m_output->Deliver(out);
    }
    out->Release();
    return hr;
}

} // namespace StdaxTest
