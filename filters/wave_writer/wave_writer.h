#pragma once
// WaveWriter::CFilter: a renderer that writes the audio it receives into a RIFF WAVE file.
//
// The file is named through IFileSinkFilter(2). It is created (an existing one truncated, whatever
// the mode) each time the filter leaves Stopped with a connected pin, with the format of the pin's
// connection; sample bytes are appended as they arrive, and Stop fixes the sizes and the frame
// count and closes it. Any WAVEFORMATEX audio format is written as it is, PCM or compressed.
// Seeking calls go upstream through the input pin.
//
// Locks: the filter lock (state changes, flushes; also the pin's lock), then the receive lock
// (Receive and EndOfStream; Pause and Stop take it to open and close the file, so a close waits for
// a Receive in progress).
#include "filters/wave_writer/input_pin.h"
#include "filters/wave_writer/wave_file.h"

#include "stdax/base_filter.h"
#include "stdax/file_sink_filter.h"
#include "stdax/media_seeking_pass_thru.h"
#include "support/byte_tap.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

namespace WaveWriter {

// {8A5844AD-C5F6-4F70-A017-CC2C8004A45C}
extern const CLSID CLSID_WaveWriter;

// The filter's locks, built before the base filter that is given the filter lock.
struct CFilterLocks {
    Synchronization::CCriticalSection m_filterLock;
    Synchronization::CCriticalSection m_receiveLock;
};

class CFilter : private CFilterLocks,
                public stdax::CBaseFilter,
                public stdax::IFileSinkFilter2Impl,
                public stdax::IMediaSeekingPassThruImpl,
                public IByteTapTarget {
public:
    // The creator for COM::CreateObject: a new filter without references, or null when out of
    // memory. A failed construction leaves its reason in *result (E_OUTOFMEMORY without pin).
    static COM::CUnknown* Create(IUnknown* outer, HRESULT* result);
    ~CFilter() override;

    COM_FORWARD_IUNKNOWN

    // IFileSinkFilter, IFileSinkFilter2, IMediaSeeking, IByteTapTarget, then the base filter's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IByteTapTarget, while stopped: the tap receives the bytes of each sample once they are written
    // to the data chunk.
    HRESULT STDMETHODCALLTYPE SetByteTap(IByteTap* tap) override;
    IByteTap* Tap() const { return m_tap; }

    int GetPinCount() override { return 1; }
    stdax::CBasePin* GetPin(int n) override;

    // From Stopped with a connected pin: opens the file first; its failure keeps the filter
    // Stopped (VFW_E_UNSUPPORTED_AUDIO for a type without WAVEFORMATEX, VFW_E_INVALID_MEDIA_TYPE for
    // a format block that is too short, E_FAIL without a file name or when it cannot be created).
    HRESULT STDMETHODCALLTYPE Pause() override;
    // Deactivates the pin and closes the file: S_OK, S_FALSE when no file was open, or the close's
    // failure. The filter is Stopped afterwards in every case.
    HRESULT STDMETHODCALLTYPE Stop() override;

    // For the pin.
    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }
    CWaveFile& File() { return m_file; }

    CInputPin* Input() const { return m_pin; }

private:
    CFilter(IUnknown* outer, HRESULT* result);

    // Opens the file with the connection's format. Under the receive lock.
    HRESULT OpenFile();

    CInputPin* m_pin;
    CWaveFile m_file;
    IByteTap* m_tap = nullptr;
};

// The filter's class creation function: creates a WAV writer and hands out its riid interface
// (the COM creation rules of COM::CreateObject).
HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

} // namespace WaveWriter
