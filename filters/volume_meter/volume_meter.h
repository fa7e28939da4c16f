#pragma once
// VolumeMeter::CFilter: a rendering filter that measures the level of the PCM audio it receives.
//
// Every flowing sample gives one level: the distance between the sample's lowest and highest value,
// as a fraction of the sample format's full scale (0.0 silence or a constant signal, 1.0 from the
// lowest possible value to the highest). All channels are measured together. The level is kept for
// GetLevel and handed to the level callback, whose result becomes the sample's result. Nothing goes
// downstream and the audio is only read.
//
// Locks, outermost first: the filter lock (state changes, flushes; also the pin's lock), the receive
// lock (Receive and EndOfStream; state changes take it to wait for a Receive in progress), the level
// lock (the level and the callback; held while the callback runs). A callback must not change the
// graph's state: Stop waits for the Receive that is running the callback.
#include "filters/volume_meter/filter_properties.h"
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

    // For the pin: the receive lock, and the measurement of one flowing sample whose properties
    // were read with the result readResult. Called with the receive lock held.
    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }
    HRESULT Measure(const stdax::CMediaSampleProperties& sample, HRESULT readResult);

    CInputPin* Input() const { return m_pin; }

private:
    CFilter(IUnknown* outer, HRESULT* result);

    // Sample width and full scale from a WAVEFORMATEX media type; VFW_E_INVALID_MEDIA_TYPE (nothing
    // changed) for any other type or a width of 0. Under the receive lock.
    HRESULT DeriveFormat(const AM_MEDIA_TYPE& type);

    CInputPin* m_pin;
    WORD m_bytesPerSample;
    double m_fullScale;
    double m_level;
    LevelCallback m_callback;
};

// The filter's class creation function: creates a volume meter and hands out its riid interface
// (the COM creation rules of COM::CreateObject).
HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

} // namespace VolumeMeter
