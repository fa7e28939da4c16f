#pragma once
// An audio renderer whose device cannot start, for fault tests of playback (see
// TestRenderer_FailStart in capture_platform.h). While a failure is set in the process, its input pin
// accepts any audio type and the filter's Pause fails with that result, as a renderer whose output
// device another program holds; otherwise the pin accepts nothing, so that a graph manager that tries
// it moves on to the platform's renderers.
#include "stdax/base_filter.h"
#include "stdax/rendered_input_pin.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

namespace CapturePlatform {

class CFailingRenderer;

class CFailingRendererPin : public stdax::CRenderedInputPin {
public:
    CFailingRendererPin(CFailingRenderer* filter, Synchronization::CCriticalSection* lock, HRESULT* result);
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
};

struct CFailingRendererLock {
    Synchronization::CCriticalSection m_filterLock;
};

class CFailingRenderer : private CFailingRendererLock, public stdax::CBaseFilter {
public:
    static COM::CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    ~CFailingRenderer() override;

    int GetPinCount() override { return m_pin != nullptr ? 1 : 0; }
    stdax::CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Stop() override;

    // The failure that Pause gives while set (S_OK: none).
    static void SetFailure(HRESULT failure);
    static HRESULT Failure();

private:
    CFailingRenderer(IUnknown* outer, HRESULT* result);

    CFailingRendererPin* m_pin = nullptr;
};

} // namespace CapturePlatform
