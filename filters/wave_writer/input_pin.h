#pragma once
// WaveWriter::CInputPin: the WAV writer's only pin. It takes any audio type and appends the bytes of
// every sample to its filter's file.
#include "stdax/rendered_input_pin.h"

#include <windows.h>
#include <strmif.h>

namespace WaveWriter {

class CFilter;

class CInputPin : public stdax::CRenderedInputPin {
public:
    CInputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    // IPin. EndOfStream does not finish the file: only the filter's Stop does.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    // IMemInputPin, under the filter's receive lock. After the framework's checks: a sample that
    // changes the format is refused with VFW_E_CHANGING_FORMAT (the file keeps the format it was
    // opened with), an empty one is S_OK, one with data but no buffer VFW_E_SAMPLE_REJECTED, one
    // whose valid length runs past its buffer VFW_E_BUFFER_OVERFLOW; otherwise the result of
    // appending its bytes. A write that fails (or reaches the RIFF size limit) ends the stream with
    // EC_ERRORABORT and its error; later samples are refused with VFW_E_RUNTIME_ERROR.
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

private:
    CFilter* const m_owner;
};

} // namespace WaveWriter
