#pragma once
// MPEG2AudioEncoder::CInputPin: the encoder filter's PCM input.
//
// It accepts MEDIATYPE_Audio / PCM with a WAVEFORMATEX block that the encoder takes (16-bit, 1 or 2
// channels, one of the nine MPEG rates) and hands the format to the encoder; the encoder's copy is
// the only one kept. Streaming calls run under the pin's receive lock, which the filter also takes
// (after the filter lock) around opening and closing the encoder.
#include "stdax/base_input_pin.h"
#include "support/critical_section.h"

namespace MPEG2AudioEncoder {

class CFilter;

class CInputPin : public stdax::CBaseInputPin {
public:
    CInputPin(CFilter* filter, HRESULT* result);
    ~CInputPin() override;

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    // Passes the format block to the encoder; the base keeps no copy of the type.
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt) override;
    // VFW_E_NOT_CONNECTED while the filter's output is not connected, else the base's check.
    HRESULT CheckStreaming() override;

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }

private:
    // VFW_E_CHANGING_FORMAT for a sample announcing a format other than the one the encoder was
    // given at connection (the encoder cannot change it in the stream); S_OK otherwise.
    HRESULT RefuseFormatChange(IMediaSample* pSample);

    CFilter* const m_owner;
    Synchronization::CCriticalSection m_receiveLock;
};

} // namespace MPEG2AudioEncoder
