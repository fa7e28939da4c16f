#pragma once
// RenderSink::CFilter: a rendering sink for tests, built on the framework.
//
// One input pin "In" (a rendered input pin with stream control) accepting MEDIATYPE_Audio of any
// subtype. The filter passes seeking upstream through that pin and keeps a file-sink name, as the
// library's writers do. It records every sample that reaches it (flowing or discarded by stream
// control), ends of stream and flushes; tests wait on the record with WaitUntil.
#include "platform/render_sink/render_sink_pin.h"
#include "stdax/base_filter.h"
#include "stdax/file_sink_filter.h"
#include "stdax/media_seeking_pass_thru.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

#include <functional>
#include <vector>

namespace RenderSink {

// {8C1F4A52-3D6E-4B7A-A0C9-5E2F1D3B4A70}
extern const CLSID CLSID_RenderSink;

// The filter's locks and setup records, built before the base filter that checks them.
struct CFilterRecords {
    CFilterRecords();

    Synchronization::CCriticalSection m_filterLock;
    // Taken by Receive and EndOfStream; the filter's Stop waits on it after the filter lock.
    Synchronization::CCriticalSection m_receiveLock;
    AMOVIESETUP_PIN m_pinRecord;
    AMOVIESETUP_FILTER m_filterRecord;
};

class CFilter : private CFilterRecords,
                public stdax::CBaseFilter,
                public stdax::IMediaSeekingPassThruImpl,
                public stdax::IFileSinkFilter2Impl {
public:
    // A new filter with one reference, or null (its failure in *result).
    static CFilter* Create(HRESULT* result = nullptr);
    ~CFilter() override;

    COM_FORWARD_IUNKNOWN

    // IMediaSeeking (through the pin's peer), IFileSinkFilter, IFileSinkFilter2, then the base's.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    int GetPinCount() override { return m_pin != nullptr ? 1 : 0; }
    stdax::CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }

    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

    CInputPin* Input() const { return m_pin; }
    IBaseFilter* Interface() { return BaseFilterInterface(); }
    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }

    // The record, copied under its lock.
    std::vector<CReceivedSample> Samples();
    CRecord Record();
    // Polls the record until condition(record) holds or timeoutMs passes; whether it held.
    bool WaitUntil(const std::function<bool(const CRecord&)>& condition, DWORD timeoutMs = 10000);

private:
    friend class CInputPin;
    explicit CFilter(HRESULT* result);

    CInputPin* m_pin;
    Synchronization::CCriticalSection m_recordLock;
    CRecord m_record;
};

} // namespace RenderSink
