#pragma once
// An audio renderer on a waveOut device named in its device moniker, for playback on a chosen output
// device: the platform's DirectSound renderer here always plays on the default device, whichever
// device moniker created it. Bound from its moniker, it reads the device to play on from the moniker's
// property bag (kWaveOutNameProperty: the first waveOut device whose name starts with it), as the
// platform's renderers read theirs; a device that is not there fails the bind.
//
// It plays PCM as it arrives, with no clock of its own and no scheduling against the graph's: each
// sample is written to the device, and Receive waits while more than kQueuedMilliseconds are queued.
// Pause pauses the device, run restarts it, stop and flush reset it; the end of the stream is told once
// the device has played everything written.
#include "stdax/base_filter.h"
#include "stdax/media_seeking_pass_thru.h"
#include "stdax/rendered_input_pin.h"
#include "support/critical_section.h"

#include <windows.h>
#include <mmsystem.h>
#include <ocidl.h>
#include <strmif.h>

#include <list>
#include <string>
#include <vector>

namespace CapturePlatform {

class CWaveOutRenderer;

class CWaveOutRendererPin : public stdax::CRenderedInputPin {
public:
    CWaveOutRendererPin(CWaveOutRenderer* filter, HRESULT* result);
    // PCM audio described by a WAVEFORMATEX.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

private:
    CWaveOutRenderer* m_owner;
};

struct CWaveOutRendererLocks {
    Synchronization::CCriticalSection m_filterLock;
    Synchronization::CCriticalSection m_receiveLock;  // Receive and EndOfStream; Stop waits for it
    Synchronization::CCriticalSection m_queueLock;    // the device and the buffers written to it
};

class CWaveOutRenderer : private CWaveOutRendererLocks,
                         public stdax::CBaseFilter,
                         public stdax::IMediaSeekingPassThruImpl,
                         public IPersistPropertyBag {
public:
    static constexpr DWORD kQueuedMilliseconds = 300;

    static COM::CUnknown* CreateInstance(IUnknown* outer, HRESULT* result);
    ~CWaveOutRenderer() override;

    COM_FORWARD_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return m_pin != nullptr ? 1 : 0; }
    stdax::CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;

    // IPersist (the filter's and the property bag's), IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override { return CBaseFilter::GetClassID(classId); }
    HRESULT STDMETHODCALLTYPE InitNew() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

private:
    friend class CWaveOutRendererPin;
    CWaveOutRenderer(IUnknown* outer, HRESULT* result);

    // Opens the device (paused) for the connection's format; S_OK when open already.
    HRESULT Open();
    // Resets and closes the device; every buffer comes back.
    void Close();
    // Writes one sample's audio, first waiting while the device holds more than kQueuedMilliseconds
    // (or until the stream is stopped or flushed: S_FALSE).
    HRESULT Write(const BYTE* data, long length);
    // Waits until the device has played everything written; false when stopped or flushed first.
    bool Drain();
    // Frees the buffers the device is done with; the bytes still queued.
    size_t Reap();

    CWaveOutRendererPin* m_pin = nullptr;
    UINT m_device = WAVE_MAPPER;
    HWAVEOUT m_waveOut = nullptr;
    HANDLE m_done = nullptr;  // set by the device when it is done with a buffer
    std::list<std::pair<WAVEHDR, std::vector<BYTE>>> m_buffers;
    DWORD m_bytesPerSecond = 0;
    volatile LONG m_interrupted = 0;  // stop or flush: waits on the device end
};

} // namespace CapturePlatform
