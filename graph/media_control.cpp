#include "graph/media_control.h"

namespace DirectShow {

HRESULT CMediaControl::Run()
{
    if (IsNull())
        return E_UNEXPECTED;
    return p->Run();
}

HRESULT CMediaControl::Stop()
{
    if (IsNull())
        return E_UNEXPECTED;
    return p->Stop();
}

HRESULT CMediaControl::TogglePause(bool* paused)
{
    if (IsNull())
        return E_UNEXPECTED;
    // A graph still changing its state answers with a success code other than S_OK and the state it
    // is heading for, which is the one to toggle.
    OAFilterState state = State_Stopped;
    HRESULT hr = p->GetState(0, &state);
    if (FAILED(hr))
        return hr;
    const bool pausing = state != State_Paused;
    hr = pausing ? p->Pause() : p->Run();
    if (SUCCEEDED(hr) && paused != nullptr) {
        if (::IsBadWritePtr(paused, sizeof(*paused)))
            return E_POINTER;
        *paused = pausing;
    }
    return hr;
}

HRESULT CMediaControl::Preroll(DWORD milliseconds)
{
    if (IsNull())
        return E_UNEXPECTED;
    HRESULT hr = p->Pause();
    if (FAILED(hr))
        return hr;
    OAFilterState state = State_Stopped;
    hr = p->GetState(static_cast<LONG>(milliseconds), &state);
    if (SUCCEEDED(hr) && state != State_Paused)
        hr = VFW_E_WRONG_STATE;
    return hr;
}

} // namespace DirectShow
