#include "filters/volume_meter/input_pin.h"

#include "filters/volume_meter/volume_meter.h"
#include "stdax/media_sample_properties.h"

namespace VolumeMeter {

CInputPin::CInputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CRenderedInputPin(filter, filter != nullptr ? filter->FilterLock() : nullptr, setup, nullptr, result),
      CBaseStreamControl(result), IMediaSeekingPassThruImpl(), m_owner(filter)
{
    // Seeking travels upstream through this pin's own connection.
    SetSeekingPin(PinInterface());
}

HRESULT STDMETHODCALLTYPE CInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IAMStreamControl) {
        *ppv = StreamControlInterface();
        return COM::GetInterface(StreamControlInterface(), ppv);
    }
    if (riid == IID_IMediaSeeking) {
        *ppv = SeekingInterface();
        return COM::GetInterface(SeekingInterface(), ppv);
    }
    return CRenderedInputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CInputPin::EndOfStream()
{
    if (m_owner == nullptr)
        return E_UNEXPECTED;
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    return CRenderedInputPin::EndOfStream();
}

HRESULT STDMETHODCALLTYPE CInputPin::BeginFlush()
{
    if (m_owner == nullptr)
        return E_UNEXPECTED;
    Synchronization::CAutoLock lock(m_owner->FilterLock());
    CRenderedInputPin::BeginFlush();
    Flushing(TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CInputPin::EndFlush()
{
    if (m_owner == nullptr)
        return E_UNEXPECTED;
    Synchronization::CAutoLock lock(m_owner->FilterLock());
    Flushing(FALSE);
    return CRenderedInputPin::EndFlush();
}

HRESULT STDMETHODCALLTYPE CInputPin::Receive(IMediaSample* pSample)
{
    if (m_owner == nullptr)
        return E_UNEXPECTED;
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    HRESULT hr = CRenderedInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    stdax::CMediaSampleProperties properties;
    hr = properties.ReadFrom(pSample);
    if (FAILED(hr))
        return hr;
    // Every accepted sample, before anything else: a gap is a gap whether or not this one is measured.
    m_owner->CheckContinuity(properties);
    if (CheckStreamState(pSample) == STREAM_DISCARDING)
        return hr;
    return m_owner->Measure(properties, hr);
}

HRESULT STDMETHODCALLTYPE CInputPin::ReceiveCanBlock()
{
    return S_OK;
}

} // namespace VolumeMeter
