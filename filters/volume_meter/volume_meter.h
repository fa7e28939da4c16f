#pragma once
// VolumeMeter::CFilter: a rendering filter that measures the level of the PCM audio it receives.
//
// Every flowing sample gives one level: the distance between the sample's lowest and highest value,
// as a fraction of the sample format's full scale (0.0 silence or a constant signal, 1.0 from the
// lowest possible value to the highest). All channels are measured together. The level is kept for
// GetLevel and handed to the level callback, whose result becomes the sample's result. Nothing goes
// downstream and the audio is only read.
//
// Before anything else, every received sample (flowing or discarded by stream control) is checked for
// a gap in the capture (gap_counter.h); the counts are per run from Stopped and read through
// GetDroppedAudio. The trace (the library's main log) gets one line per gap,
//   "VolumeMeter: gap <n> in the captured audio at <s.sss> s, <ms.m> ms lost."  (from time stamps)
//   "VolumeMeter: gap <n> in the captured audio (a discontinuity), length unknown."
// and, once per run, "VolumeMeter: the capture device sets no time stamps; only its discontinuities
// count as gaps." for a sample without a start time. <s.sss> is the stream time where the lost audio
// begins.
//
// Locks, outermost first: the filter lock (state changes, flushes; also the pin's lock), the receive
// lock (Receive and EndOfStream; state changes take it to wait for a Receive in progress), the level
// lock (the level and the callback; held while the callback runs), the gap lock (the gap counts, held
// only to update or copy them). A callback must not change the graph's state: Stop waits for the Receive
// that is running the callback.
#include "filters/volume_meter/filter_properties.h"
#include "filters/volume_meter/gap_counter.h"
#include "filters/volume_meter/input_pin.h"

#include "stdax/base_filter.h"
#include "stdax/media_sample_properties.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

namespace VolumeMeter {

// {3BB256E3-0636-4338-B42E-25CDEB8F4406}
extern const CLSID CLSID_VolumeMeter;

// The filter's locks, built before the base filter that is given the filter lock.
struct CFilterLocks {
    Synchronization::CCriticalSection m_filterLock;
    Synchronization::CCriticalSection m_receiveLock;
    Synchronization::CCriticalSection m_levelLock;
    Synchronization::CCriticalSection m_gapLock;
};

class CFilter : private CFilterLocks, public stdax::CBaseFilter, public IFilterProperties {
public:
    // The creator for COM::CreateObject: a new filter without references, or null when out of
    // memory. A failed construction leaves its reason in *result (E_OUTOFMEMORY without pin).
    static COM::CUnknown* Create(IUnknown* outer, HRESULT* result);
    ~CFilter() override;

    COM_FORWARD_IUNKNOWN

    // IFilterProperties; IMediaSeeking (the pin's pass-through while the pin is connected, else
    // E_NOTIMPL); then the base filter's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    stdax::CBasePin* GetPin(int n) override;

    // IMediaFilter.
    // Stopped -> Paused derives the measured format from the connection type (its failure keeps
    // the filter Stopped) and resets the level to 0.0. Running -> Paused answers S_FALSE.
    HRESULT STDMETHODCALLTYPE Pause() override;
    // Deactivates the pin, waits for a Receive in progress and resets the level to 0.0.
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

    // IFilterProperties
    HRESULT STDMETHODCALLTYPE IsActive() override;
    HRESULT STDMETHODCALLTYPE GetLevel(double* level) override;
    HRESULT STDMETHODCALLTYPE SetCallback(LevelCallback callback) override;
    HRESULT STDMETHODCALLTYPE GetDroppedAudio(ULONG* gaps, REFERENCE_TIME* missing) override;

    // For the pin: the receive lock, and the measurement of one flowing sample whose properties
    // were read with the result readResult. Called with the receive lock held.
    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }
    HRESULT Measure(const stdax::CMediaSampleProperties& sample, HRESULT readResult);
    // For the pin: counts a gap before this sample, if there is one, and traces it. Called with the
    // receive lock held, for every sample the pin accepted.
    void CheckContinuity(const stdax::CMediaSampleProperties& sample);

    CInputPin* Input() const { return m_pin; }

private:
    CFilter(IUnknown* outer, HRESULT* result);

    // Sample width and full scale from a WAVEFORMATEX media type; VFW_E_INVALID_MEDIA_TYPE (nothing
    // changed) for any other type or a width of 0. Under the receive lock.
    HRESULT DeriveFormat(const AM_MEDIA_TYPE& type);

    CInputPin* m_pin;
    WORD m_bytesPerSample;
    DWORD m_samplesPerSecond;   // of the derived format; 0 when not given
    DWORD m_bytesPerSecond;     // of the derived format; 0 when not given
    CGapCounter m_gapCounter;   // changed under the receive lock and the gap lock
    volatile LONG m_resumed;    // 1: the stream resumed (Paused -> Running); the next sample starts afresh
    bool m_pausedAfterRunning;  // under the filter lock: paused from Running since the last start
    double m_fullScale;
    double m_level;
    LevelCallback m_callback;
};

// The filter's class creation function: creates a volume meter and hands out its riid interface
// (the COM creation rules of COM::CreateObject).
HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

} // namespace VolumeMeter
