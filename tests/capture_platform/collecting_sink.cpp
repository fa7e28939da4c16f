#include "collecting_sink.h"

#include <uuids.h>

namespace CapturePlatformTest {

namespace {

// {3E0B7C21-5A94-4F6D-B1C8-72D4E9A0F513}
const CLSID kCollectingSinkClass = {0x3e0b7c21, 0x5a94, 0x4f6d, {0xb1, 0xc8, 0x72, 0xd4, 0xe9, 0xa0, 0xf5, 0x13}};

} // namespace

CCollectingSinkRecords::CCollectingSinkRecords()
    : m_typeRecord{&MEDIATYPE_Audio, &GUID_NULL},
      m_pinRecord{const_cast<LPWSTR>(L"In"), TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, &m_typeRecord},
      m_filterRecord{&kCollectingSinkClass, L"Collecting Sink", MERIT_DO_NOT_USE, 1, &m_pinRecord}
{
}

CCollectingPin::CCollectingPin(CCollectingSink* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBaseInputPin(filter, filter->FilterLock(), setup, nullptr, result), m_sink(filter)
{
}

HRESULT STDMETHODCALLTYPE CCollectingPin::Receive(IMediaSample* pSample)
{
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    CCollectedSample sample;
    sample.hasTime = SUCCEEDED(pSample->GetTime(&sample.start, &sample.stop));
    sample.discontinuity = pSample->IsDiscontinuity() == S_OK;
    sample.syncPoint = pSample->IsSyncPoint() == S_OK;
    sample.length = pSample->GetActualDataLength();
    sample.identity = pSample;
    sample.hasArrival = SUCCEEDED(m_sink->StreamTime(&sample.arrival));
    BYTE* data = nullptr;
    pSample->GetPointer(&data);
    {
        Synchronization::CAutoLock lock(&m_sink->m_collectionLock);
        m_sink->m_collection.samples.push_back(sample);
        if (data != nullptr && sample.length > 0)
            m_sink->m_collection.bytes.insert(m_sink->m_collection.bytes.end(), data, data + sample.length);
    }
    if (m_sink->m_receiveDelay != 0)
        ::Sleep(m_sink->m_receiveDelay);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectingPin::EndOfStream()
{
    Synchronization::CAutoLock lock(&m_sink->m_collectionLock);
    ++m_sink->m_collection.endOfStream;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectingPin::BeginFlush()
{
    CBaseInputPin::BeginFlush();
    Synchronization::CAutoLock lock(&m_sink->m_collectionLock);
    ++m_sink->m_collection.beginFlush;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectingPin::EndFlush()
{
    {
        Synchronization::CAutoLock lock(m_lock);
        m_flushing = FALSE;
    }
    Synchronization::CAutoLock lock(&m_sink->m_collectionLock);
    ++m_sink->m_collection.endFlush;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CCollectingPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    CBaseInputPin::NewSegment(tStart, tStop, dRate);
    Synchronization::CAutoLock lock(&m_sink->m_collectionLock);
    ++m_sink->m_collection.newSegment;
    m_sink->m_collection.segmentStart = tStart;
    m_sink->m_collection.segmentStop = tStop;
    m_sink->m_collection.segmentRate = dRate;
    return S_OK;
}

CCollectingSink* CCollectingSink::Create()
{
    CCollectingSink* const sink = new CCollectingSink;
    if (sink == nullptr)
        return nullptr;
    if (sink->m_pin == nullptr) {
        delete static_cast<COM::CUnknown*>(sink);
        return nullptr;
    }
    sink->NonDelegatingAddRef();
    return sink;
}

CCollectingSink::CCollectingSink() : CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, nullptr)
{
    HRESULT hr = S_OK;
    m_pin = new CCollectingPin(this, &m_pinRecord, &hr);
    if (m_pin != nullptr && FAILED(hr)) {
        delete static_cast<COM::CUnknown*>(m_pin);
        m_pin = nullptr;
    }
}

CCollectingSink::~CCollectingSink()
{
    delete static_cast<COM::CUnknown*>(m_pin);
}

HRESULT STDMETHODCALLTYPE CCollectingSink::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    if (m_state != State_Stopped && m_pin->IsConnected())
        m_pin->Inactive();
    m_state = State_Stopped;
    return S_OK;
}

CCollection CCollectingSink::Collected()
{
    Synchronization::CAutoLock lock(&m_collectionLock);
    return m_collection;
}

bool CCollectingSink::WaitUntil(const std::function<bool(const CCollection&)>& condition, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += 10) {
        if (condition(Collected()))
            return true;
        if (waited >= timeoutMs)
            return false;
        ::Sleep(10);
    }
}

} // namespace CapturePlatformTest
