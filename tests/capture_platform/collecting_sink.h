#pragma once
// A sink filter for the capture platform tests: one input pin "In" that takes MEDIATYPE_Audio of
// any subtype and keeps everything it receives: the bytes, each sample's times and flags, the stream
// time at which it arrived, and the stream notifications. It can be made slow (SetReceiveDelay).
#include "stdax/base_filter.h"
#include "stdax/base_input_pin.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

#include <functional>
#include <vector>

namespace CapturePlatformTest {

struct CCollectedSample {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool hasTime = false;
    bool discontinuity = false;
    bool syncPoint = false;
    long length = 0;
    REFERENCE_TIME arrival = 0; // the sink's stream time when it arrived (0 without a clock)
    bool hasArrival = false;
    IMediaSample* identity = nullptr; // for comparing, never dereferenced
};

struct CCollection {
    std::vector<CCollectedSample> samples;
    std::vector<BYTE> bytes;
    int endOfStream = 0;
    int beginFlush = 0;
    int endFlush = 0;
    int newSegment = 0;
    REFERENCE_TIME segmentStart = 0;
    REFERENCE_TIME segmentStop = 0;
    double segmentRate = 0.0;
};

class CCollectingSink;

class CCollectingPin : public stdax::CBaseInputPin {
public:
    CCollectingPin(CCollectingSink* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    CCollectingSink* const m_sink;
};

struct CCollectingSinkRecords {
    CCollectingSinkRecords();

    Synchronization::CCriticalSection m_filterLock;
    AMOVIESETUP_MEDIATYPE m_typeRecord;
    AMOVIESETUP_PIN m_pinRecord;
    AMOVIESETUP_FILTER m_filterRecord;
};

class CCollectingSink : private CCollectingSinkRecords, public stdax::CBaseFilter {
public:
    // A new sink with one reference on its IBaseFilter, or null.
    static CCollectingSink* Create();
    ~CCollectingSink() override;

    int GetPinCount() override { return m_pin != nullptr ? 1 : 0; }
    stdax::CBasePin* GetPin(int n) override { return n == 0 ? m_pin : nullptr; }
    HRESULT STDMETHODCALLTYPE Stop() override;

    IBaseFilter* Interface() { return BaseFilterInterface(); }
    IPin* InputPin() { return m_pin->PinInterface(); }

    // Each Receive takes this long (after keeping the sample), as a slow consumer; 0 by default.
    void SetReceiveDelay(DWORD milliseconds) { m_receiveDelay = milliseconds; }

    // A copy of what arrived so far.
    CCollection Collected();
    // Polls until condition holds (true) or timeoutMs passes (false).
    bool WaitUntil(const std::function<bool(const CCollection&)>& condition, DWORD timeoutMs = 10000);

private:
    friend class CCollectingPin;
    CCollectingSink();

    CCollectingPin* m_pin = nullptr;
    Synchronization::CCriticalSection m_collectionLock;
    CCollection m_collection;
    volatile DWORD m_receiveDelay = 0;
};

} // namespace CapturePlatformTest
