#pragma once
// VolumeMeter::CInputPin: the meter's only pin. It accepts PCM audio, passes each flowing sample to
// its filter for measuring, lets stream control start and stop the measured stream, and passes
// seeking upstream through its own connection.
#include "stdax/media_seeking_pass_thru.h"
#include "stdax/rendered_input_pin.h"
#include "stdax/stream_control.h"

#include <windows.h>
#include <strmif.h>

namespace VolumeMeter {

class CFilter;

class CInputPin : public stdax::CRenderedInputPin,
                  public CBaseStreamControl,
                  public stdax::IMediaSeekingPassThruImpl {
public:
    // *result receives the first failure of the framework pin or the stream control.
    CInputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    COM_FORWARD_IUNKNOWN

    // IAMStreamControl and IMediaSeeking, then the rendered pin's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPin. EndOfStream runs under the filter's receive lock; the flush calls under the filter lock.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // IMemInputPin. Receive returns the measurement's result (the level callback's when one is set).
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    // The level callback runs inside Receive: it may block.
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    IMediaSeeking* SeekingInterface() { return static_cast<IMediaSeeking*>(this); }
    IAMStreamControl* StreamControlInterface() { return static_cast<IAMStreamControl*>(this); }

private:
    CFilter* const m_owner;
};

} // namespace VolumeMeter
