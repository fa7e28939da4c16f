#pragma once
// The tone capture device's output pin (pin category PIN_CATEGORY_CAPTURE) and its streaming thread.
//
// The pin's format is set through IAMStreamConfig before it is connected (PCM, 1 or 2 channels, 8 or
// 16 bits, 8,000 to 48,000 Hz); connecting with another supported PCM type adopts that type. The
// buffer size suggested through IAMBufferNegotiation (whole frames) becomes the allocator's buffer
// size and every delivered sample is one full buffer of audio.
//
// Streaming: Active commits the allocator and starts the thread, Inactive decommits (waking a thread
// that waits for a buffer) and stops it. The thread never takes the filter lock. Each buffer goes out
// once the graph clock has passed its stop time while the filter runs, stamped with the stream times
// of its first frame and of the frame after its last (frames counted from the start of streaming), so
// a recording is paced in real time and pausing holds the data back. A delivery that is refused ends
// streaming without a word: the graph stops downstream filters first.
#include "stdax/base_output_pin.h"
#include "support/thread_ex.h"

#include "pcm_signal.h"

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
    CToneCapturePin(CToneCaptureFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);
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

private:
    // S_OK when the clock has passed due while running, S_FALSE when stopEvent came first.
    HRESULT WaitForStreamTime(HANDLE stopEvent, REFERENCE_TIME due);
    REFERENCE_TIME TimeOfFrame(LONGLONG frame) const;

    CToneCaptureFilter* const m_owner;
    WAVEFORMATEX m_format;               // guarded by the filter lock; fixed while streaming
    ALLOCATOR_PROPERTIES m_suggested;    // guarded by the filter lock
    PcmSource::CSignal m_signal;         // the streaming thread's
    CToneCaptureThread m_thread;
};

// Makes the next pin of the process that becomes active fail with the given result (see
// ToneCapture_FailNextStart); S_OK withdraws it.
void FailNextStart(HRESULT failure);

} // namespace CapturePlatform
