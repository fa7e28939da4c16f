#include "stdax/media_seeking_pass_thru.h"

#include "stdax/com/ptr.h"

#include <vfwmsgs.h>

namespace stdax {

HRESULT IMediaSeekingPassThruImpl::GetUpstreamSeeking(IMediaSeeking** ppSeeking)
{
    if (ppSeeking == nullptr || ::IsBadWritePtr(ppSeeking, sizeof(*ppSeeking)))
        return E_POINTER;
    *ppSeeking = nullptr;
    if (m_pin == nullptr)
        return E_UNEXPECTED;
    COM::TPtr<IPin> peer;
    HRESULT hr = m_pin->ConnectedTo(&peer);
    if (hr == VFW_E_NOT_CONNECTED)
        return E_NOTIMPL;
    if (FAILED(hr))
        return hr;
    if (peer.IsNull())
        return E_UNEXPECTED;
    hr = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(ppSeeking));
    if (hr == E_NOINTERFACE)
        return E_NOTIMPL;
    // A peer that claims success without an interface has none to offer.
    if (SUCCEEDED(hr) && *ppSeeking == nullptr)
        return E_UNEXPECTED;
    return hr;
}

// Each method: the upstream interface, then the same call there.
#define STDAX_PASS_THRU(call)                                                                      \
    COM::TPtr<IMediaSeeking> upstream;                                                             \
    const HRESULT hr = GetUpstreamSeeking(&upstream);                                              \
    if (FAILED(hr))                                                                                \
        return hr;                                                                                 \
    return upstream->call;

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetCapabilities(DWORD* pCapabilities)
{
    STDAX_PASS_THRU(GetCapabilities(pCapabilities))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::CheckCapabilities(DWORD* pCapabilities)
{
    STDAX_PASS_THRU(CheckCapabilities(pCapabilities))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::IsFormatSupported(const GUID* pFormat)
{
    STDAX_PASS_THRU(IsFormatSupported(pFormat))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::QueryPreferredFormat(GUID* pFormat)
{
    STDAX_PASS_THRU(QueryPreferredFormat(pFormat))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetTimeFormat(GUID* pFormat)
{
    STDAX_PASS_THRU(GetTimeFormat(pFormat))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::IsUsingTimeFormat(const GUID* pFormat)
{
    STDAX_PASS_THRU(IsUsingTimeFormat(pFormat))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::SetTimeFormat(const GUID* pFormat)
{
    STDAX_PASS_THRU(SetTimeFormat(pFormat))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetDuration(LONGLONG* pDuration)
{
    STDAX_PASS_THRU(GetDuration(pDuration))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetStopPosition(LONGLONG* pStop)
{
    STDAX_PASS_THRU(GetStopPosition(pStop))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetCurrentPosition(LONGLONG* pCurrent)
{
    STDAX_PASS_THRU(GetCurrentPosition(pCurrent))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                                                       LONGLONG Source, const GUID* pSourceFormat)
{
    STDAX_PASS_THRU(ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags,
                                                                  LONGLONG* pStop, DWORD dwStopFlags)
{
    STDAX_PASS_THRU(SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop)
{
    STDAX_PASS_THRU(GetPositions(pCurrent, pStop))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest)
{
    STDAX_PASS_THRU(GetAvailable(pEarliest, pLatest))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::SetRate(double dRate)
{
    STDAX_PASS_THRU(SetRate(dRate))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetRate(double* pdRate)
{
    STDAX_PASS_THRU(GetRate(pdRate))
}

HRESULT STDMETHODCALLTYPE IMediaSeekingPassThruImpl::GetPreroll(LONGLONG* pllPreroll)
{
    STDAX_PASS_THRU(GetPreroll(pllPreroll))
}

#undef STDAX_PASS_THRU

} // namespace stdax
