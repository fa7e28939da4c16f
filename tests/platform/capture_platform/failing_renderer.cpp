#include "failing_renderer.h"

#include "capture_platform.h"

#include <uuids.h>
#include <vfwmsgs.h>

namespace CapturePlatform {

namespace {

volatile LONG g_failure = S_OK;

const AMOVIESETUP_MEDIATYPE s_anyAudio[] = {{&MEDIATYPE_Audio, &GUID_NULL}};
const AMOVIESETUP_PIN s_pin = {const_cast<LPWSTR>(L"Audio Input"), TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 1,
                               s_anyAudio};
const AMOVIESETUP_FILTER s_filter = {&CLSID_FailingRenderer, kFailingRendererName, MERIT_DO_NOT_USE, 1, &s_pin};

} // namespace

CFailingRendererPin::CFailingRendererPin(CFailingRenderer* filter, Synchronization::CCriticalSection* lock,
                                         HRESULT* result)
    : CRenderedInputPin(filter, lock, &s_pin, nullptr, result)
{
}

HRESULT CFailingRendererPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    return SUCCEEDED(CFailingRenderer::Failure()) || pmt->majortype != MEDIATYPE_Audio ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
}

CFailingRenderer::CFailingRenderer(IUnknown* outer, HRESULT* result)
    : CFailingRendererLock(), CBaseFilter(&s_filter, outer, &m_filterLock, result)
{
    if (FAILED(*result))
        return;
    m_pin = new CFailingRendererPin(this, &m_filterLock, result);
    if (m_pin == nullptr)
        *result = E_OUTOFMEMORY;
}

CFailingRenderer::~CFailingRenderer()
{
    delete static_cast<COM::CUnknown*>(m_pin);
}

COM::CUnknown* CFailingRenderer::CreateInstance(IUnknown* outer, HRESULT* result)
{
    return new CFailingRenderer(outer, result);
}

HRESULT STDMETHODCALLTYPE CFailingRenderer::Pause()
{
    const HRESULT failure = Failure();
    if (FAILED(failure))
        return failure;
    return CBaseFilter::Pause();
}

HRESULT STDMETHODCALLTYPE CFailingRenderer::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped && m_pin->IsConnected())
        hr = m_pin->Inactive();
    m_state = State_Stopped;
    return hr == VFW_E_NO_ALLOCATOR ? S_OK : hr;
}

void CFailingRenderer::SetFailure(HRESULT failure)
{
    ::InterlockedExchange(&g_failure, failure);
}

HRESULT CFailingRenderer::Failure()
{
    return ::InterlockedCompareExchange(&g_failure, 0, 0);
}

} // namespace CapturePlatform
