#pragma once
// MPEG2AudioEncoder::CEncoder: 16-bit PCM to MPEG audio Layer III frames with LAME.
//
// The encoded bytes collect in one output buffer of OutputBufferSize bytes that lives as long as the
// object. LAME is asked to write only while fewer than EncodeFillLimit bytes are held and is always
// offered the whole rest of the buffer, so each call has at least 8,192 bytes of room. The owner takes
// bytes out with GetFrame or GetBlockAligned; bytes handed out are squeezed out of the buffer at the
// start of the next Encode (or Flush).
//
// The object is meant to be aggregated by the encoder filter, which hands out IEncoder and
// IEncoderSettings from its own QueryInterface. It takes no lock: its owner serialises the calls.
// Every call into LAME runs under the structured-exception guard; a fault there returns E_ABORT.
#include "filters/mpeg2_audio_encoder/encoder_interfaces.h"
#include "stdax/com/unknown.h"

#include <lame/lame.h>

namespace MPEG2AudioEncoder {

class CEncoder : public COM::CUnknown, public IEncoder, public IEncoderSettings {
public:
    static constexpr ULONG OutputBufferSize = 16384;
    static constexpr LONG EncodeFillLimit = 8192;   // LAME writes only while fewer bytes are held
    static constexpr int MaxSampleFramesPerCall = 1152;
    static constexpr int PrimeSampleFrames = 48;    // silence encoded by Open at the start of the stream

    // The COM creation pattern: *result holds S_OK on entry; a failure is reported through it (an
    // output buffer that cannot be allocated gives E_OUTOFMEMORY). Nothing is done when *result is
    // already a failure.
    CEncoder(IUnknown* outer, HRESULT* result);
    ~CEncoder() override;

    // Creator for COM::CreateObject (a stand-alone encoder; the filter holds one by value instead).
    static COM::CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);

    COM_FORWARD_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IEncoder
    HRESULT STDMETHODCALLTYPE CheckInputType(const WAVEFORMATEX* format) override;
    HRESULT STDMETHODCALLTYPE SetInputType(const WAVEFORMATEX* format) override;
    HRESULT STDMETHODCALLTYPE GetInputType(WAVEFORMATEX* format) override;
    HRESULT STDMETHODCALLTYPE Open() override;
    HRESULT STDMETHODCALLTYPE Encode(const short* pcm, ULONG cbPcm, ULONG* pcbConsumed) override;
    HRESULT STDMETHODCALLTYPE GetFrame(BYTE** ppFrame, ULONG* pcbFrame) override;
    HRESULT STDMETHODCALLTYPE GetBlockAligned(ULONG cbAlign, BYTE** ppData, ULONG* pcbAligned,
                                              ULONG* pcbData) override;
    HRESULT STDMETHODCALLTYPE Flush() override;
    HRESULT STDMETHODCALLTYPE Close(IStream* stream) override;

    // IEncoderSettings
    HRESULT STDMETHODCALLTYPE GetEncoderSettings(EncoderSettings* settings) override;
    HRESULT STDMETHODCALLTYPE SetEncoderSettings(const EncoderSettings* settings) override;
    void STDMETHODCALLTYPE SetDefaultEncoderSettings() override;
    HRESULT STDMETHODCALLTYPE GetSizeofOutputBuffer(ULONG* pcb) override;

private:
    // Lets the tests reach the LAME context (to check the configuration and to make LAME fault).
    friend struct CEncoderTestSeam;

    HRESULT OpenLame();
    HRESULT ConfigureLame();
    HRESULT PrimeWithSilence();
    HRESULT EncodeSamples(const short* pcm, ULONG cbPcm, ULONG* pcbConsumed);
    // Moves the bytes not yet handed out to the start of the buffer.
    void SqueezeOutput();

    // Rewrites the tag frame at the start of the audio in stream (behind any ID3v2 tag).
    HRESULT UpdateLameTagFrame(IStream* stream);
    // Positions stream at the start of the audio after checking that a sync word stands there and one
    // tag frame (cbTagFrame bytes) further on.
    HRESULT SkipID3V2(IStream* stream, ULONG cbTagFrame);
    // Reads 4 bytes: S_OK when they begin with an MPEG audio sync word, else S_FALSE.
    HRESULT MaybeSyncWord(IStream* stream);

    lame_global_flags* m_pLame;
    WAVEFORMATEX m_wfxIn;
    bool m_bInputTypeSet;
    EncoderSettings m_settings;
    bool m_bSettingsValid;
    BYTE* m_pOutput;
    bool m_bFlushed;
    ULONG m_nFramesSeen;
    LONG m_cbFill;
    LONG m_cbRead;
    // The open context's channel count, read once when it is primed.
    int m_nChannels;
};

} // namespace MPEG2AudioEncoder
