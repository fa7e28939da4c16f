#include "stdax/base_input_pin.h"

#include "stdax/com/pointer_probes.h"
#include "stdax/media_type_operations.h"

#include <evcode.h>
#include <uuids.h>

namespace stdax {

CBaseInputPin::CBaseInputPin(CBaseFilter* filter, Synchronization::CCriticalSection* lock,
                             const AMOVIESETUP_PIN* setup, LPCWSTR name, HRESULT* result)
    : CBasePin(filter, lock, setup, name, result), m_readOnly(FALSE), m_flushing(FALSE)
{
}

CBaseInputPin::~CBaseInputPin()
{
    m_allocator.Release();
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (COM::IsBadOutPointer(ppv))
        return E_POINTER;
    if (riid == IID_IMemInputPin) {
        *ppv = static_cast<IMemInputPin*>(this);
        return COM::GetInterface(static_cast<IMemInputPin*>(this), ppv);
    }
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::Inactive()
{
    m_runtimeError = FALSE;
    // A stopped pin is never flushing, whether or not an allocator was agreed.
    m_flushing = FALSE;
    if (m_allocator.IsNull())
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->Decommit();
}

HRESULT CBaseInputPin::BreakConnect()
{
    if (m_allocator.IsNull())
        return S_OK;
    const HRESULT hr = m_allocator->Decommit();
    m_allocator.Release();
    return hr;
}

HRESULT CBaseInputPin::CheckStreaming()
{
    if (!IsConnected())
        return VFW_E_NOT_CONNECTED;
    if (m_filter->IsStopped())
        return VFW_E_WRONG_STATE;
    if (m_flushing)
        return S_FALSE;
    if (m_runtimeError)
        return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT CBaseInputPin::RaiseRuntimeError(HRESULT hr)
{
    // Through the interface, so that the derived pin ends its stream its own way; before the error
    // is set, which would refuse this end of stream like every later streaming call.
    const HRESULT ended = PinInterface()->EndOfStream();
    m_runtimeError = TRUE;
    IMediaEventSink* const sink = m_filter->EventSink();
    const HRESULT notified = sink != nullptr ? sink->Notify(EC_ERRORABORT, hr, 0) : E_NOTIMPL;
    return SUCCEEDED(notified) || FAILED(ended) ? ended : notified;
}

HRESULT CBaseInputPin::AbortStream(HRESULT hr)
{
    m_runtimeError = TRUE;
    IMediaEventSink* const sink = m_filter->EventSink();
    return sink != nullptr ? sink->Notify(EC_ERRORABORT, hr, 0) : E_NOTIMPL;
}

HRESULT CBaseInputPin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* props)
{
    if (props == nullptr || ::IsBadWritePtr(props, sizeof(*props)))
        return E_POINTER;
    ZeroMemory(props, sizeof(*props));
    if (!IsConnected())
        return VFW_E_NOT_CONNECTED;
    COM::TPtr<IMemAllocator> allocator;
    const HRESULT hr = MemInputPinInterface()->GetAllocator(&allocator);
    if (FAILED(hr))
        return hr;
    if (allocator.IsNull())
        return E_UNEXPECTED;
    return allocator->GetProperties(props);
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::BeginFlush()
{
    Synchronization::CAutoLock lock(m_lock);
    m_flushing = TRUE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::Notify(IBaseFilter* pSelf, Quality)
{
    if (pSelf == nullptr || ::IsBadReadPtr(pSelf, sizeof(void*)))
        return E_POINTER;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator)
{
    Synchronization::CAutoLock lock(m_lock);
    if (m_allocator.IsNull()) {
        const HRESULT hr = ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IMemAllocator, reinterpret_cast<void**>(&m_allocator));
        if (FAILED(hr))
            return hr;
        if (m_allocator.IsNull())
            return E_UNEXPECTED;
    }
    if (ppAllocator == nullptr || ::IsBadWritePtr(ppAllocator, sizeof(*ppAllocator)))
        return E_POINTER;
    return m_allocator.CopyTo(ppAllocator);
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly)
{
    if (pAllocator == nullptr)
        return E_POINTER;
    if (::IsBadReadPtr(pAllocator, sizeof(void*)))
        return E_INVALIDARG;
    Synchronization::CAutoLock lock(m_lock);
    m_allocator = pAllocator;
    m_readOnly = bReadOnly ? TRUE : FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::Receive(IMediaSample* pSample)
{
    if (pSample == nullptr || ::IsBadReadPtr(pSample, sizeof(void*)))
        return E_POINTER;
    HRESULT hr = CheckStreaming();
    if (hr != S_OK)
        return hr;

    AM_MEDIA_TYPE* type = nullptr;
    if (pSample->GetMediaType(&type) != S_OK || type == nullptr)
        return S_OK;
    // Only a plain S_OK accepts the new type, as when connecting: anything else would let samples
    // of a format this pin cannot handle through.
    hr = CheckMediaType(type);
    if (hr != S_OK) {
        RaiseRuntimeError(VFW_E_TYPE_NOT_ACCEPTED);
        hr = VFW_E_TYPE_NOT_ACCEPTED;
    }
    DeleteMediaTypeRecord(type);
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                                                         long* nSamplesProcessed)
{
    if (nSamples <= 0)
        return E_INVALIDARG;
    // A count whose table would not fit in the address space cannot be readable; its byte size
    // must not wrap round to a small probe.
    if (static_cast<unsigned long>(nSamples) > MAXLONG / sizeof(IMediaSample*) || pSamples == nullptr ||
        ::IsBadReadPtr(pSamples, sizeof(IMediaSample*) * nSamples))
        return E_POINTER;
    if (nSamplesProcessed == nullptr || ::IsBadReadPtr(nSamplesProcessed, sizeof(*nSamplesProcessed)) ||
        ::IsBadWritePtr(nSamplesProcessed, sizeof(*nSamplesProcessed)))
        return E_POINTER;
    *nSamplesProcessed = 0;
    for (long i = 0; i < nSamples; ++i) {
        // Through the interface, so that the derived pin's Receive handles each sample.
        const HRESULT hr = MemInputPinInterface()->Receive(pSamples[i]);
        if (hr != S_OK)
            return hr;
        ++*nSamplesProcessed;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseInputPin::ReceiveCanBlock()
{
    const int count = m_filter->GetPinCount();
    if (count <= 0)
        return S_OK;
    int outputs = 0;
    for (int i = 0; i < count; ++i) {
        CBasePin* const pin = m_filter->GetPin(i);
        if (pin == nullptr)
            continue;
        PIN_DIRECTION direction = PINDIR_INPUT;
        HRESULT hr = pin->QueryDirection(&direction);
        if (FAILED(hr))
            return hr;
        if (direction != PINDIR_OUTPUT)
            continue;
        COM::TPtr<IPin> peer;
        if (FAILED(pin->ConnectedTo(&peer)))
            continue;
        ++outputs;
        if (peer.IsNull())
            return S_OK;
        COM::TPtr<IMemInputPin> input;
        if (FAILED(peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input))) || input.IsNull())
            return S_OK;
        if (input->ReceiveCanBlock() != S_FALSE)
            return S_OK;
    }
    return outputs > 0 ? S_FALSE : S_OK;
}

} // namespace stdax
