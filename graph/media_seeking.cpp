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

} // namespace DirectShow
