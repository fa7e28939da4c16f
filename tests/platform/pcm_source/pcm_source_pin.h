#pragma once
// The PCM test source's output pin and the streaming thread that feeds it.
//
// Active (the filter leaving Stopped) commits the agreed allocator and starts the thread;
// Inactive (the filter's Stop) decommits the allocator, which wakes a thread waiting for a buffer,
// and then waits for the thread to end. The thread never takes the filter lock: Active and
// Inactive run with it held.
#include "pcm_settings.h"
#include "pcm_signal.h"

#include "stdax/base_output_pin.h"
#include "support/thread_ex.h"

namespace PcmSource {

class CFilter;
class COutputPin;

class CStreamThread : public Synchronization::CThreadEx {
public:
    explicit CStreamThread(COutputPin& pin) : m_pin(pin) {}
    ~CStreamThread() override;

    // Start with a stop timeout long enough for a downstream filter to give back a sample it holds.
    HRESULT Begin();

protected:
    HRESULT OnStart() override;
    HRESULT Run() override;
    HRESULT OnStop() override;

private:
    COutputPin& m_pin;
};

class COutputPin : public stdax::CBaseOutputPin {
public:
    COutputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, const Settings& settings, HRESULT* result);
    ~COutputPin() override;

    // Only the source's own type, format block included.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT OnGetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // At least one full sample per buffer, the settings' buffer count when left open.
    HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // The streaming thread's body: fills and delivers samples until the stream ends or stopEvent
    // is set, then waits for stopEvent.
    HRESULT Stream(HANDLE stopEvent);

    // What the last run of the stream did; read them once the filter is stopped or the stream ended.
    ULONG DeliveredSamples() const { return m_delivered; }
    LONGLONG DeliveredFrames() const { return m_deliveredFrames; }
    bool EndOfStreamDelivered() const { return m_endOfStream != 0; }
    // S_OK while streaming and after a complete stream; otherwise why the stream ended early.
    HRESULT StreamResult() const { return m_streamResult; }

private:
    // S_OK when the clock has passed due while running, S_FALSE when stopEvent came first.
    HRESULT WaitForStreamTime(HANDLE stopEvent, REFERENCE_TIME due);
    void Abort(HRESULT hr);

    CFilter* const m_owner;
    const Settings& m_settings;
    CSignal m_signal;
    volatile LONG m_delivered = 0;
    LONGLONG m_deliveredFrames = 0;
    volatile LONG m_endOfStream = 0;
    volatile HRESULT m_streamResult = S_OK;
    // Set before the streaming thread is told to stop; the delivery loop reads it instead of polling
    // the stop event, which under Wine costs a round trip to the server for every sample.
    volatile LONG m_stopping = 0;
    CStreamThread m_thread;
};

} // namespace PcmSource
