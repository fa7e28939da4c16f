#pragma once
// The tone capture device's output pin (pin category PIN_CATEGORY_CAPTURE) and its streaming thread.
//
// The pin's format is set through IAMStreamConfig before it is connected (PCM, 1 or 2 channels, 8 or
// 16 bits, 8,000 to 48,000 Hz); connecting with another supported PCM type adopts that type. The
// buffer size suggested through IAMBufferNegotiation (whole frames) becomes the allocator's buffer
// size and every delivered sample is one full buffer of audio.
//
// Streaming: Active commits the allocator and starts the thread, Inactive decommits (waking a thread
// that waits for a buffer) and stops it. The thread never takes the filter lock. Frames are counted from
// the start of streaming, and each sample is stamped with the stream times of its first frame and of the
// frame after its last; its audio is the tone at those times (the phase follows the frame count).
//
// Pacing and drops, as a real device (options from the environment, see tone_capture_options.h): each
// buffer goes out once the graph clock has passed its stop time while the filter runs, so a recording is
// paced in real time and pausing holds the data back. The device records on while the streaming thread is
// away (held in a downstream Receive, or waiting for a free buffer) and holds up to the hold time of audio
// not yet delivered (at least one buffer). When the thread comes for its next buffer while the filter runs
// and more audio is waiting than that, the oldest whole buffers are dropped until no more is: the next
// sample starts where the kept audio begins, is stamped there, carries the discontinuity flag and holds the
// tone of that time. Every drop goes to the report (tone_capture_report.h).
//
// Fast mode: a buffer goes out as soon as the graph takes it while the filter runs, stamped as contiguous
// real-time audio; nothing is paced and nothing is dropped.
//
// The first sample of every run carries the discontinuity flag. A delivery that is refused ends streaming
// without a word: the graph stops downstream filters first.
//
// Pause cuts (TESSARO_TEST_CAPTURE_PAUSE_CUTS=1), as drivers that stop at a pause do: a pause after running
// sends the buffer in progress at once, while the filter is paused, with the audio recorded up to the
// pause, and the first sample after the resume carries the discontinuity flag (it starts where that audio
// ended).
//
// Start times only (TESSARO_TEST_CAPTURE_START_TIMES_ONLY=1), as some drivers stamp: each sample has a start
// time and no stop time, and no discontinuity flag at all, a drop included.
#include "stdax/base_output_pin.h"
#include "support/thread_ex.h"

#include "pcm_signal.h"
#include "tone_capture_options.h"

#include <windows.h>
#include <mmreg.h>
#include <strmif.h>

namespace CapturePlatform {

class CToneCaptureFilter;
class CToneCapturePin;

class CToneCaptureThread : public Synchronization::CThreadEx {
public:
    explicit CToneCaptureThread(CToneCapturePin& pin) : m_pin(pin) {}
    ~CToneCaptureThread() override;

    // Start, with a stop timeout long enough for a downstream filter to give back a sample it holds.
    HRESULT Begin();

protected:
    HRESULT OnStart() override;
    HRESULT Run() override;
    HRESULT OnStop() override;

private:
    CToneCapturePin& m_pin;
};

class CToneCapturePin : public stdax::CBaseOutputPin,
                        public IKsPropertySet,
                        public IAMStreamConfig,
                        public IAMBufferNegotiation {
public:
    CToneCapturePin(CToneCaptureFilter* filter, const AMOVIESETUP_PIN* setup, CaptureOptions options,
                    HRESULT* result);
    ~CToneCapturePin() override;

    COM_FORWARD_IUNKNOWN

    // IKsPropertySet, IAMStreamConfig, IAMBufferNegotiation, then the output pin's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Any supported PCM type.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    // The agreed type becomes the pin's format.
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt) override;
    // The pin's current format only.
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // IKsPropertySet: AMPROPSETID_Pin / AMPROPERTY_PIN_CATEGORY, read only.
    HRESULT STDMETHODCALLTYPE Set(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                                  LPVOID pPropData, DWORD cbPropData) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                                  LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

    // IAMStreamConfig. SetFormat needs a stopped filter; while connected it takes only the connected
    // format (VFW_E_ALREADY_CONNECTED for another one).
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** ppmt) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* piCount, int* piSize) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    // IAMBufferNegotiation. Suggestions (negative fields: no preference) are taken before connecting.
    HRESULT STDMETHODCALLTYPE SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* pprop) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorProperties(ALLOCATOR_PROPERTIES* pprop) override;

    // The streaming thread's body: delivers buffers until stopEvent is set or streaming ends, then
    // waits for stopEvent.
    HRESULT Stream(HANDLE stopEvent);

    static bool IsSupported(const WAVEFORMATEX& format);

    // The tone the device records from its next start (Hz, above 0 and below half the lowest rate).
    // Called under the filter lock.
    HRESULT SetToneFrequency(double frequency);

private:
    // S_OK when the filter runs and (paced) the clock has passed due, S_FALSE when stopEvent came first.
    // S_OK once the stream time has passed due while running, S_FALSE when told to stop; with runningUntil,
    // kPausedAfterRunning when the filter paused while this wait had seen it running (*runningUntil: the
    // last stream time seen running).
    static constexpr HRESULT kPausedAfterRunning = 2;
    HRESULT WaitForStreamTime(HANDLE stopEvent, REFERENCE_TIME due, bool paced, REFERENCE_TIME* runningUntil);
    // The frames to drop before the buffer of the given size that starts at position: whole buffers, so
    // that no more than the hold time of recorded audio waits. 0 unless the filter runs on a clock.
    LONGLONG FramesToDrop(LONGLONG position, ULONG bufferFrames) const;
    REFERENCE_TIME TimeOfFrame(LONGLONG frame) const;

    CToneCaptureFilter* const m_owner;
    const CaptureOptions m_options;
    double m_frequency;                  // guarded by the filter lock
    WAVEFORMATEX m_format;               // guarded by the filter lock; fixed while streaming
    ALLOCATOR_PROPERTIES m_suggested;    // guarded by the filter lock
    PcmSource::CSignal m_signal;         // the streaming thread's
    double m_signalFrequency;            // the streaming thread's
    CToneCaptureThread m_thread;
};

// Makes the next pin of the process that becomes active fail with the given result (see
// ToneCapture_FailNextStart); S_OK withdraws it.
void FailNextStart(HRESULT failure);

} // namespace CapturePlatform
