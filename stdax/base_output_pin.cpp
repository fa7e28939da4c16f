#include "stdax/base_output_pin.h"

#include "stdax/com/pointer_probes.h"

#include <uuids.h>
#include <vfwmsgs.h>

namespace stdax {

namespace {

void ReleaseAndClear(IMemAllocator** ppAlloc)
{
    if (*ppAlloc != nullptr) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
}

bool SameProperties(const ALLOCATOR_PROPERTIES& a, const ALLOCATOR_PROPERTIES& b)
{
    return a.cBuffers == b.cBuffers && a.cbBuffer == b.cbBuffer && a.cbAlign == b.cbAlign && a.cbPrefix == b.cbPrefix;
}

} // namespace

CBaseOutputPin::CBaseOutputPin(CBaseFilter* filter, Synchronization::CCriticalSection* lock,
                               const AMOVIESETUP_PIN* setup, LPCWSTR name, HRESULT* result)
    : CBasePin(filter, lock, setup, name, result)
{
}

CBaseOutputPin::~CBaseOutputPin()
{
    m_inputPin.Release();
    m_allocator.Release();
}

HRESULT CBaseOutputPin::Inactive()
{
    m_runtimeError = FALSE;
    if (m_allocator.IsNull())
        return VFW_E_NO_ALLOCATOR;
    return m_allocator->Decommit();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin)
{
    const HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr))
        return hr;
    return pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_inputPin));
}

HRESULT CBaseOutputPin::BreakConnect()
{
    if (m_allocator.IsValid()) {
        // Buffers still out with the streaming thread or downstream are returned to a decommitted
        // allocator; a refusal keeps the connection as it is.
        const HRESULT hr = m_allocator->Decommit();
        if (FAILED(hr))
            return hr;
        m_allocator.Release();
    }
    m_inputPin.Release();
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc)
{
    if (COM::IsBadInterface(pPin) || ppAlloc == nullptr || ::IsBadWritePtr(ppAlloc, sizeof(*ppAlloc)))
        return E_POINTER;
    *ppAlloc = nullptr;

    // A pin without requirements (the framework's own input pins answer E_NOTIMPL) leaves the
    // record zero; whatever a refusing pin may have written is not taken as a requirement.
    ALLOCATOR_PROPERTIES requirements = {};
    if (FAILED(pPin->GetAllocatorRequirements(&requirements)))
        requirements = ALLOCATOR_PROPERTIES{};
    if (requirements.cbAlign == 0)
        requirements.cbAlign = 1;

    // The downstream pin's allocator first: samples then need no copy on its side.
    HRESULT hr = pPin->GetAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &requirements);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr))
                return S_OK;
        }
    }
    ReleaseAndClear(ppAlloc);

    // Then one of our own, set up from the same requirements.
    hr = InitAllocator(ppAlloc);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(*ppAlloc, &requirements);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
            if (SUCCEEDED(hr))
                return S_OK;
        }
    }
    ReleaseAndClear(ppAlloc);
    return hr;
}

HRESULT CBaseOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequirements)
{
    if (COM::IsBadInterface(pAlloc) || pRequirements == nullptr || ::IsBadReadPtr(pRequirements, sizeof(*pRequirements)))
        return E_POINTER;
    ALLOCATOR_PROPERTIES request = *pRequirements;
    HRESULT hr = OnDecideBufferSize(&request);
    if (FAILED(hr))
        return hr;
    ALLOCATOR_PROPERTIES actual = {};
    hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr))
        return hr;
    // Buffers laid out otherwise than asked for are not used.
    return SameProperties(request, actual) ? hr : E_FAIL;
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags)
{
    if (ppSample == nullptr || ::IsBadWritePtr(ppSample, sizeof(*ppSample)) ||
        (pStartTime != nullptr && ::IsBadReadPtr(pStartTime, sizeof(*pStartTime))) ||
        (pEndTime != nullptr && ::IsBadReadPtr(pEndTime, sizeof(*pEndTime))))
        return E_POINTER;
    if (m_allocator.IsNull())
        return E_NOINTERFACE;
    return m_allocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample)
{
    if (m_inputPin.IsNull())
        return VFW_E_NOT_CONNECTED;
    if (COM::IsBadInterface(pSample))
        return E_POINTER;
    return m_inputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc)
{
    return ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                              reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::DeliverEndOfStream()
{
    IPin* const peer = m_connected.p;
    return peer != nullptr ? peer->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverBeginFlush()
{
    IPin* const peer = m_connected.p;
    return peer != nullptr ? peer->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverEndFlush()
{
    IPin* const peer = m_connected.p;
    return peer != nullptr ? peer->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    IPin* const peer = m_connected.p;
    return peer != nullptr ? peer->NewSegment(tStart, tStop, dRate) : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndOfStream()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::BeginFlush()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndFlush()
{
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::Notify(IBaseFilter*, Quality)
{
    return E_NOTIMPL;
}

} // namespace stdax
