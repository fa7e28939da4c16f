#pragma once
// StreamSink::CFilter: the writer of a recording that has no file. It renders what it receives and
// stores nothing: a byte stream (the MP3 encoder's stream output, whose frames the encoder hands to
// its own tap) or WAVEFORMATEX audio other than MP3, whose bytes it hands to its tap (IByteTapTarget)
// as the WAV writer would store them in the data chunk. Its pin also takes what an encoder writes
// through IStream at stop (Seek and Write succeed and keep nothing), as a file writer's pin does.
//
// Locks: the filter lock for state changes and connections, the receive lock for Receive.
#include "stdax/base_filter.h"
#include "stdax/rendered_input_pin.h"
#include "support/byte_tap.h"
#include "support/critical_section.h"

#include <windows.h>
#include <objidl.h>
#include <strmif.h>

namespace StreamSink {

class CFilter;

class CInputPin : public stdax::CRenderedInputPin, public IStream {
public:
    CInputPin(CFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    COM_FORWARD_IUNKNOWN
    // IStream, then the base pin's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // MEDIATYPE_Stream, or audio with a WAVEFORMATEX that is not MP3.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    // IStream: a stream that keeps nothing.
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG* read) override;
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* written) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    CFilter* const m_owner;
    ULONGLONG m_position = 0;
    ULONGLONG m_size = 0;
};

// The filter's locks, built before the base filter that is given the filter lock.
struct CFilterLocks {
    Synchronization::CCriticalSection m_filterLock;
    Synchronization::CCriticalSection m_receiveLock;
};

class CFilter : private CFilterLocks, public stdax::CBaseFilter, public IByteTapTarget {
public:
    static COM::CUnknown* Create(IUnknown* outer, HRESULT* result);
    ~CFilter() override;

    COM_FORWARD_IUNKNOWN
    // IByteTapTarget, then the base filter's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return 1; }
    stdax::CBasePin* GetPin(int n) override;
    HRESULT STDMETHODCALLTYPE Stop() override;

    // IByteTapTarget: the tap of the audio bytes received (not of a byte stream's).
    HRESULT STDMETHODCALLTYPE SetByteTap(IByteTap* tap) override;

    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }
    Synchronization::CCriticalSection* Lock() { return &m_filterLock; }
    IByteTap* Tap() const { return m_tap; }

private:
    CFilter(IUnknown* outer, HRESULT* result);

    CInputPin* m_pin = nullptr;
    IByteTap* m_tap = nullptr;
};

// The class creation function (the COM creation rules of COM::CreateObject).
HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv);

} // namespace StreamSink
