#pragma once
// A pass-through filter on both of the framework's base pins: audio PCM comes in on "In", each
// sample is copied into a buffer from the output pin's allocator with its times and flags and
// delivered on "Out"; end of stream, flushes and new segments follow it downstream. The output
// offers exactly the type the input was connected with.
#include "stdax/base_filter.h"
#include "stdax/base_input_pin.h"
#include "stdax/base_output_pin.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

namespace StdaxTest {

class CPassThroughFilter;

class CPassThroughInputPin : public stdax::CBaseInputPin {
public:
    CPassThroughInputPin(CPassThroughFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    CPassThroughFilter* const m_owner;
};

class CPassThroughOutputPin : public stdax::CBaseOutputPin {
public:
    CPassThroughOutputPin(CPassThroughFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT OnGetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Buffers as large as the input's, at least two of them.
    HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) override;
    HRESULT Active() override;

private:
    CPassThroughFilter* const m_owner;
};

struct CPassThroughRecords {
    CPassThroughRecords();

    Synchronization::CCriticalSection m_filterLock;
    // Taken by Receive and EndOfStream; Stop takes it after the filter lock.
    Synchronization::CCriticalSection m_receiveLock;
    AMOVIESETUP_MEDIATYPE m_type;
    AMOVIESETUP_PIN m_pinRecords[2];
    AMOVIESETUP_FILTER m_filterRecord;
};

class CPassThroughFilter : private CPassThroughRecords, public stdax::CBaseFilter {
public:
    // With one reference, or null.
    static CPassThroughFilter* Create();
    ~CPassThroughFilter() override;

    int GetPinCount() override { return 2; }
    stdax::CBasePin* GetPin(int n) override;
    // The input first (its allocator decommitted ends upstream deliveries), then, once no sample
    // is on its way, the output.
    HRESULT STDMETHODCALLTYPE Stop() override;

    CPassThroughInputPin* Input() const { return m_input; }
    CPassThroughOutputPin* Output() const { return m_output; }
    IBaseFilter* Interface() { return BaseFilterInterface(); }

private:
    friend class CPassThroughInputPin;
    CPassThroughFilter(HRESULT* result);
    HRESULT Transform(IMediaSample* in);

    CPassThroughInputPin* m_input = nullptr;
    CPassThroughOutputPin* m_output = nullptr;
};

} // namespace StdaxTest
