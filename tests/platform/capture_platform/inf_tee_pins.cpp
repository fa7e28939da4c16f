#include "inf_tee_pins.h"

#include "inf_tee.h"
#include "media_formats.h"

#include "stdax/media_type_operations.h"

namespace CapturePlatform {

// --- input --------------------------------------------------------------------------------------------

CTeeInputPin::CTeeInputPin(CInfTee* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBaseInputPin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, nullptr, result), m_tee(filter)
{
}

HRESULT CTeeInputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    if (stdax::IsMediaTypePartiallySpecified(pmt))
        return VFW_E_TYPE_NOT_ACCEPTED;
    // Branches already built must be able to carry the stream.
    for (int i = 0; i < m_tee->OutputCount(); ++i) {
        IPin* const peer = m_tee->Output(i)->GetConnected();
        if (peer != nullptr && peer->QueryAccept(pmt) != S_OK)
            return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CTeeInputPin::GetMediaType(int position, AM_MEDIA_TYPE* pmt)
{
    if (position < 0)
        return E_INVALIDARG;
    if (pmt == nullptr)
        return E_POINTER;
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT STDMETHODCALLTYPE CTeeInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly)
{
    HRESULT hr = CBaseInputPin::NotifyAllocator(pAllocator, bReadOnly);
    if (FAILED(hr))
        return hr;
    Synchronization::CAutoLock lock(m_lock);
    for (int i = 0; i < m_tee->OutputCount() && SUCCEEDED(hr); ++i) {
        CTeeOutputPin* const output = m_tee->Output(i);
        if (output->IsConnected())
            hr = output->PassAllocator(pAllocator);
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CTeeInputPin::Receive(IMediaSample* pSample)
{
    Synchronization::CAutoLock lock(m_tee->ReceiveLock());
    const HRESULT checked = CBaseInputPin::Receive(pSample);
    if (checked != S_OK)
        return checked;
    int connected = 0;
    bool taken = false;
    HRESULT refusal = S_OK;
    for (int i = 0; i < m_tee->OutputCount(); ++i) {
        CTeeOutputPin* const output = m_tee->Output(i);
        if (!output->IsConnected())
            continue;
        ++connected;
        // One branch that ended or failed does not stop the others.
        const HRESULT hr = output->Deliver(pSample);
        if (hr == S_OK)
            taken = true;
        else if (refusal == S_OK)
            refusal = hr;
    }
    return connected == 0 || taken ? S_OK : refusal;
}

HRESULT STDMETHODCALLTYPE CTeeInputPin::EndOfStream()
{
    Synchronization::CAutoLock lock(m_tee->ReceiveLock());
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;
    for (int i = 0; i < m_tee->OutputCount(); ++i) {
        CTeeOutputPin* const output = m_tee->Output(i);
        if (output->IsConnected())
            output->DeliverEndOfStream();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTeeInputPin::BeginFlush()
{
    // Not under the receive lock: flushing is what frees a Receive blocked downstream.
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (FAILED(hr))
        return hr;
    for (int i = 0; i < m_tee->OutputCount(); ++i) {
        CTeeOutputPin* const output = m_tee->Output(i);
        if (output->IsConnected())
            output->DeliverBeginFlush();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTeeInputPin::EndFlush()
{
    {
        Synchronization::CAutoLock receiving(m_tee->ReceiveLock());
        for (int i = 0; i < m_tee->OutputCount(); ++i) {
            CTeeOutputPin* const output = m_tee->Output(i);
            if (output->IsConnected())
                output->DeliverEndFlush();
        }
    }
    Synchronization::CAutoLock lock(m_lock);
    m_flushing = FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CTeeInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    const HRESULT hr = CBaseInputPin::NewSegment(tStart, tStop, dRate);
    if (FAILED(hr))
        return hr;
    for (int i = 0; i < m_tee->OutputCount(); ++i) {
        CTeeOutputPin* const output = m_tee->Output(i);
        if (output->IsConnected())
            output->DeliverNewSegment(tStart, tStop, dRate);
    }
    return S_OK;
}

// --- outputs ------------------------------------------------------------------------------------------

CTeeOutputPin::CTeeOutputPin(CInfTee* filter, const AMOVIESETUP_PIN* setup, LPCWSTR name, HRESULT* result)
    : CBaseOutputPin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, name, result), m_tee(filter)
{
}

HRESULT CTeeOutputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    const CTeeInputPin* const input = m_tee->Input();
    if (!input->IsConnected())
        return VFW_E_NOT_CONNECTED;
    if (pmt->cbFormat != 0 && (pmt->pbFormat == nullptr || ::IsBadReadPtr(pmt->pbFormat, pmt->cbFormat)))
        return E_POINTER;
    return SameMediaType(*pmt, input->ConnectionType()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CTeeOutputPin::GetMediaType(int position, AM_MEDIA_TYPE* pmt)
{
    if (position < 0)
        return E_INVALIDARG;
    if (pmt == nullptr)
        return E_POINTER;
    const CTeeInputPin* const input = m_tee->Input();
    if (position > 0 || !input->IsConnected())
        return VFW_S_NO_MORE_ITEMS;
    stdax::FreeMediaTypeContents(pmt);
    return stdax::CopyMediaTypeContents(pmt, &input->ConnectionType());
}

HRESULT CTeeOutputPin::CompleteConnect(IPin* pReceivePin)
{
    HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr))
        return hr;
    IMemAllocator* const allocator = m_tee->Input()->Allocator();
    if (allocator == nullptr)
        return VFW_E_NO_ALLOCATOR;
    hr = PassAllocator(allocator);
    if (FAILED(hr))
        return hr;
    return m_tee->OutputConnected(this);
}

HRESULT CTeeOutputPin::OnDecideBufferSize(ALLOCATOR_PROPERTIES*)
{
    return S_OK;
}

HRESULT CTeeOutputPin::PassAllocator(IMemAllocator* allocator)
{
    if (m_inputPin.IsNull())
        return VFW_E_NOT_CONNECTED;
    // Read only: the same buffer reaches every branch.
    const HRESULT hr = m_inputPin->NotifyAllocator(allocator, TRUE);
    if (SUCCEEDED(hr))
        m_allocator = allocator;
    return hr;
}

} // namespace CapturePlatform
