#pragma once
// MPEG2AudioEncoder::CFilter: the MP3 encoder filter.
//
// One PCM input pin and one MP3 output pin around an aggregated MPEG2AudioEncoder::CEncoder, whose
// IEncoder and IEncoderSettings the filter hands out from its own QueryInterface. Each received PCM
// sample is encoded in place and the encoded bytes go downstream either as a byte stream (stream
// output: samples stamped with byte positions, for a file writer) or one frame per sample (sample
// output: sync points stamped with frame times).
//
// At Stop in stream output the encoder is drained (LAME's last frames and their padding) and the rest
// is written through the downstream pin's IStream behind the bytes already delivered, before the LAME
// tag frame at the start of the stream is rewritten and the encoder closed: the stored file holds all
// the audio that reached the filter, also when no end of stream came first.
//
// In stream output no encoded byte is dropped when downstream refuses a delivery (a failed buffer
// request or Receive, or a writer that the graph stopped before this filter): the bytes are kept,
// the failure is returned, and they go out first with the next delivery, or through the downstream
// stream at Stop or at a flush. A refusal that does not go away by itself (a full or failing disk, a
// file that cannot be written) and refusals that go on past the bound of the kept bytes end the
// stream: EC_ERRORABORT with the error to the graph (no end of stream downstream, whose writer would
// report a completion), and later samples are refused (VFW_E_RUNTIME_ERROR) until the filter stops or
// is flushed.
//
// Locks: the filter lock for state changes and connection calls, then the input pin's receive lock for
// Receive, EndOfStream, opening and closing the encoder and draining it at a flush. End of stream runs
// under the receive lock alone, so the order is never reversed.
#include "filters/mpeg2_audio_encoder/encoder.h"
#include "filters/mpeg2_audio_encoder/input_pin.h"
#include "filters/mpeg2_audio_encoder/output_pin.h"
#include "stdax/base_filter.h"
#include "support/byte_tap.h"
#include "support/critical_section.h"

#include <vector>

namespace MPEG2AudioEncoder {

// {C7B9355C-F5C4-4BFF-9236-690123979DBF}
extern const CLSID CLSID_MPEG2AudioEncoder;
// MEDIATYPE_Audio subtype of wave format tag 0x55 (MPEG audio Layer III).
extern const GUID MEDIASUBTYPE_MPEGLayer3;

// The setup records of the filter's pins: 0 "Input", 1 "Output".
const AMOVIESETUP_PIN* PinSetupData(int index);

// The filter lock, built before the base filter that is handed it.
struct CFilterLock {
    Synchronization::CCriticalSection m_filterLock;
};

class CFilter : private CFilterLock, public stdax::CBaseFilter, public IByteTapTarget {
public:
    // The COM creation pattern: *result holds S_OK on entry and receives a failure.
    CFilter(IUnknown* outer, HRESULT* result);
    ~CFilter() override;

    // Creator for COM::CreateObject.
    static COM::CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    // The class creation function: creates a filter and hands out its riid interface.
    static HRESULT CreateFilter(IUnknown* outer, REFIID riid, void** ppv);
    static const AMOVIESETUP_FILTER* SetupData();

    COM_FORWARD_IUNKNOWN
    // IEncoder and IEncoderSettings from the encoder, IByteTapTarget, then the base filter's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IByteTapTarget, while stopped: in stream output the tap receives every byte as it goes to the
    // writer (delivered or written through its stream at stop), in order, except a tag frame asked for
    // at the start of the stream (rewritten at stop, which a tap cannot be).
    HRESULT STDMETHODCALLTYPE SetByteTap(IByteTap* tap) override;

    int GetPinCount() override { return 2; }
    stdax::CBasePin* GetPin(int n) override;

    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Stop() override;

    // From the input pin, under its receive lock.
    HRESULT Receive(IMediaSample* pSample);
    HRESULT EndOfStream();
    // From the input pin, under the filter lock.
    HRESULT BeginFlush();
    HRESULT EndFlush();

    CInputPin* InputPin() const { return m_pInputPin; }
    COutputPin* OutputPin() const { return m_pOutputPin; }
    CEncoder& Encoder() { return m_encoder; }
    IEncoder* EncoderInterface() { return static_cast<IEncoder*>(&m_encoder); }
    IEncoderSettings* SettingsInterface() { return static_cast<IEncoderSettings*>(&m_encoder); }

private:
    HRESULT StartStreaming();
    HRESULT StopStreaming();
    HRESULT FlushEncodedSamples();
    // Ends the stream after a delivery failure (see above); returns error.
    HRESULT EndStreamWithError(HRESULT error);
    // Stream output: delivers size bytes in pieces that fit the delivery samples, each stamped with
    // its byte positions; *delivered receives the bytes that went downstream before a failure.
    HRESULT DeliverStream(const BYTE* data, ULONG size, ULONG* delivered);
    // Appends to the bytes waiting for delivery; E_OUTOFMEMORY when they cannot be kept.
    HRESULT KeepUndelivered(const BYTE* data, ULONG size);
    // Stream output: everything still in the encoder, LAME's tail included, written through the
    // downstream stream behind the bytes delivered so far.
    HRESULT DrainToStream(IStream* stream);
    // Stream notifications go downstream only through a connected output pin.
    HRESULT OutputReady() const;
    HRESULT WriteToStream(IStream* stream, const BYTE* data, ULONG size);
    // The downstream pin's IStream, or null.
    HRESULT DownstreamStream(IStream** stream);
    // Whether the settings ask for LAME's tag frame.
    bool TagFrameAsked();
    // Hands the bytes just stored at the stream position to the tap (the tag frame left out).
    void TapStored(const BYTE* data, ULONG size, LONGLONG position);

    CInputPin* m_pInputPin;
    COutputPin* m_pOutputPin;
    bool m_bEndOfStreamSent;
    CEncoder m_encoder;
    ULONG m_nSamplesPerFrame;
    LONGLONG m_llBytePosition;
    REFERENCE_TIME m_rtNext;
    REFERENCE_TIME m_rtFrameDuration;
    // The encoder was opened by StartStreaming and not closed since.
    bool m_bStreaming;
    // Largest delivery sample in stream output (the allocator's buffer size).
    ULONG m_cbMaxDelivery;
    // Stream output: encoded bytes that a failed delivery left behind, in stream order. They go out
    // first at the next delivery, or through the downstream stream at a flush or at Stop.
    std::vector<BYTE> m_undelivered;
    IByteTap* m_tap = nullptr;
    // Stream bytes at the start that the tap does not get (the tag frame); -1 until the first frame
    // tells its length.
    LONGLONG m_tapSkip = 0;
};

} // namespace MPEG2AudioEncoder
