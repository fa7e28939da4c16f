#pragma once
// Filters that sit on the other side of an output pin in the framework tests:
//   - a source with one CBaseOutputPin whose buffer-size step, own allocator and commit can be
//     watched and steered;
//   - a rendering sink with one input pin that implements IMemInputPin by hand: it can refuse the
//     transport, offer an allocator of its own or none, state requirements, refuse the allocator it
//     is told about, and records every sample and stream notification it receives;
// and an allocator that wraps the platform's memory allocator, can answer a request with other
// values than asked for, and counts its commits.
#include "stdax/base_filter.h"
#include "stdax/base_output_pin.h"
#include "stdax/base_pin.h"
#include "stdax/com/ptr.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

#include <vector>

namespace StdaxTest {

// The platform's memory allocator behind a counting front. Not a framework object: it does not
// show in the live-object count. Created with one reference.
class CProbeAllocator final : public IMemAllocator {
public:
    static CProbeAllocator* Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT STDMETHODCALLTYPE Commit() override;
    HRESULT STDMETHODCALLTYPE Decommit() override;
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                        DWORD dwFlags) override;
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* pBuffer) override;

    LONG References() const { return m_references; }

    // Knobs: a non-zero alignment is answered instead of the one asked for; Decommit's result.
    LONG m_answerAlignment = 0;
    HRESULT m_decommitResult = S_OK;
    // What happened.
    std::vector<ALLOCATOR_PROPERTIES> m_requests;
    int m_commits = 0, m_decommits = 0;

private:
    CProbeAllocator() = default;
    volatile LONG m_references = 1;
    COM::TPtr<IMemAllocator> m_inner;
};

class CProbeFilter;

class CProbeOutputPin : public stdax::CBaseOutputPin {
public:
    CProbeOutputPin(CProbeFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    // Knobs: the allocator InitAllocator hands out instead of a new platform one.
    COM::TPtr<IMemAllocator> m_ownAllocator;
    // What happened: the requirements OnDecideBufferSize was given, one entry per call.
    std::vector<ALLOCATOR_PROPERTIES> m_requirementsSeen;

    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Open fields become 2 buffers of 4096 bytes.
    HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) override;
    HRESULT InitAllocator(IMemAllocator** ppAlloc) override;
    HRESULT OnGetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    HRESULT Active() override;
};

// One received sample.
struct CReceived {
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT timeResult = S_OK;
    LONGLONG mediaStart = 0, mediaStop = 0;
    bool discontinuity = false, syncPoint = false;
    LONG length = 0;
    // The filter's stream time when the sample arrived (VFW_E_NO_CLOCK: none).
    REFERENCE_TIME arrival = 0;
    HRESULT arrivalResult = VFW_E_NO_CLOCK;
};

class CProbeInputPin : public stdax::CBasePin, public IMemInputPin {
public:
    CProbeInputPin(CProbeFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    COM_FORWARD_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT Inactive() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT BreakConnect() override;

    // IPin
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nSamplesProcessed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    // Knobs.
    bool m_offerTransport = true;
    COM::TPtr<IMemAllocator> m_offeredAllocator; // null: GetAllocator gives VFW_E_NO_ALLOCATOR
    ALLOCATOR_PROPERTIES m_requirements = {};
    HRESULT m_requirementsResult = E_NOTIMPL;
    HRESULT m_notifyResult = S_OK;
    HRESULT m_receiveResult = S_OK;
    HRESULT m_streamResult = S_OK; // EndOfStream, BeginFlush, EndFlush

    // What happened (Receive runs on the sender's thread: read these once streaming is over).
    COM::TPtr<IMemAllocator> m_notified;
    BOOL m_notifiedReadOnly = TRUE;
    std::vector<CReceived> m_samples;
    std::vector<BYTE> m_bytes;
    int m_endOfStream = 0, m_beginFlush = 0, m_endFlush = 0, m_newSegment = 0;
    // A stream may end before the graph runs: completion is reported when it does.
    bool m_completionPending = false;

private:
    void ReportCompletion();

    Synchronization::CCriticalSection m_receiveLock;
    CProbeFilter* const m_owner;
};

// The filter's lock and setup records, built before the base filter that checks them.
struct CProbeFilterRecords {
    explicit CProbeFilterRecords(bool output);

    Synchronization::CCriticalSection m_filterLock;
    AMOVIESETUP_MEDIATYPE m_type;
    AMOVIESETUP_PIN m_pinRecord;
    AMOVIESETUP_FILTER m_filterRecord;
};

class CProbeFilter : private CProbeFilterRecords, public stdax::CBaseFilter, public IAMFilterMiscFlags {
public:
    // With one reference, or null. The source offers 16-bit mono PCM at 44100 Hz; the sink accepts any type.
    static CProbeFilter* CreateSource();
    static CProbeFilter* CreateSink();
    ~CProbeFilter() override;

    COM_FORWARD_IUNKNOWN
    // The sink answers IAMFilterMiscFlags as a renderer, so that the graph waits for its completion.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    int GetPinCount() override { return 1; }
    stdax::CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
    HRESULT STDMETHODCALLTYPE Stop() override;

    CProbeOutputPin* Output() const { return static_cast<CProbeOutputPin*>(m_pin); }
    CProbeInputPin* Input() const { return static_cast<CProbeInputPin*>(m_pin); }
    IBaseFilter* Interface() { return BaseFilterInterface(); }
    IPin* PinInterface() const { return m_pin->PinInterface(); }

private:
    explicit CProbeFilter(bool output, HRESULT* result);

    stdax::CBasePin* m_pin = nullptr;
    const bool m_output;
};

} // namespace StdaxTest
