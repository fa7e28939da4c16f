#include "graph/media_seeking.h"

namespace DirectShow {

HRESULT CMediaSeeking::GetDuration(LONGLONG* duration)
{
    if (IsNull())
        return E_UNEXPECTED;
    return p->GetDuration(duration);
}

HRESULT CMediaSeeking::GetCurrentPosition(LONGLONG* position)
{
    if (IsNull())
        return E_UNEXPECTED;
    return p->GetCurrentPosition(position);
}

HRESULT CMediaSeeking::GetStopPosition(LONGLONG* position)
{
    if (IsNull())
        return E_UNEXPECTED;
    return p->GetStopPosition(position);
}

HRESULT CMediaSeeking::CheckPosition(LONGLONG position)
{
    if (IsNull())
        return E_UNEXPECTED;
    DWORD capabilities = 0;
    HRESULT hr = p->GetCapabilities(&capabilities);
    if (FAILED(hr))
        return hr == E_NOTIMPL ? E_NOTIMPL : hr;
    if ((capabilities & AM_SEEKING_CanSeekAbsolute) == 0)
        return E_NOTIMPL;
    LONGLONG duration = 0;
    hr = p->GetDuration(&duration);
    if (FAILED(hr))
        return hr;
    return position < 0 || position > duration ? E_INVALIDARG : S_OK;
}

HRESULT CMediaSeeking::SetPosition(LONGLONG position)
{
    HRESULT hr = CheckPosition(position);
    if (FAILED(hr))
        return hr;
    hr = p->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    return hr;
}

} // namespace DirectShow
