#include "platform/render_sink/render_sink.h"

#include <mmreg.h>
#include <uuids.h>

namespace RenderSink {

const CLSID CLSID_RenderSink = {0x8c1f4a52, 0x3d6e, 0x4b7a, {0xa0, 0xc9, 0x5e, 0x2f, 0x1d, 0x3b, 0x4a, 0x70}};

namespace {

const AMOVIESETUP_MEDIATYPE kAnyAudio[1] = {{&MEDIATYPE_Audio, &GUID_NULL}};
const WCHAR kFilterName[] = L"Render Sink";

} // namespace

// --- pin ----------------------------------------------------------------------------------------------

CInputPin::CInputPin(CFilter* filter, HRESULT* result)
    : CRenderedInputPin(filter, filter->FilterLock(), &filter->m_pinRecord, nullptr, result),
      CBaseStreamControl(result), m_owner(filter)
{
}

HRESULT STDMETHODCALLTYPE CInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IAMStreamControl) {
        *ppv = StreamControlInterface();
        return COM::GetInterface(StreamControlInterface(), ppv);
    }
    return CRenderedInputPin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CInputPin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (pmt != nullptr && m_refusedSubtype != GUID_NULL && pmt->subtype == m_refusedSubtype)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (pmt != nullptr && m_acceptStream && pmt->majortype == MEDIATYPE_Stream)
        return S_OK;
    return CRenderedInputPin::CheckMediaType(pmt);
}

HRESULT STDMETHODCALLTYPE CInputPin::EndOfStream()
{
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    {
        Synchronization::CAutoLock record(&m_owner->m_recordLock);
        ++m_owner->m_record.endOfStream;
    }
    return CRenderedInputPin::EndOfStream();
}

HRESULT STDMETHODCALLTYPE CInputPin::BeginFlush()
{
    Synchronization::CAutoLock lock(m_lock);
    const HRESULT hr = CRenderedInputPin::BeginFlush();
    Flushing(TRUE);
    Synchronization::CAutoLock record(&m_owner->m_recordLock);
    ++m_owner->m_record.beginFlush;
    return hr;
}

HRESULT STDMETHODCALLTYPE CInputPin::EndFlush()
{
    Synchronization::CAutoLock lock(m_lock);
    Flushing(FALSE);
    {
        Synchronization::CAutoLock record(&m_owner->m_recordLock);
        ++m_owner->m_record.endFlush;
    }
    return CRenderedInputPin::EndFlush();
}

HRESULT STDMETHODCALLTYPE CInputPin::Receive(IMediaSample* pSample)
{
    Synchronization::CAutoLock lock(m_owner->ReceiveLock());
    HRESULT hr = CRenderedInputPin::Receive(pSample);
    if (hr != S_OK)
        return hr;
    stdax::CMediaSampleProperties properties;
    hr = properties.ReadFrom(pSample);
    if (FAILED(hr))
        return hr;
    const bool discarded = CheckStreamState(pSample) == STREAM_DISCARDING;

    CReceivedSample sample;
    const AM_SAMPLE2_PROPERTIES& read = properties.Properties();
    sample.start = read.tStart;
    sample.stop = read.tStop;
    sample.flags = read.dwSampleFlags;
    sample.actual = read.lActual;
    sample.size = read.cbBuffer;
    sample.discarded = discarded;
    if (read.lActual > 0 && read.pbBuffer != nullptr)
        sample.firstByte = read.pbBuffer[0];
    if (properties.HasFlag(AM_SAMPLE_TYPECHANGED)) {
        const AM_MEDIA_TYPE& type = properties.MediaType();
        sample.typeSubtype = type.subtype;
        if (type.formattype == FORMAT_WaveFormatEx && type.cbFormat >= sizeof(WAVEFORMATEX) && type.pbFormat != nullptr)
            sample.typeRate = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat)->nSamplesPerSec;
    }
    Synchronization::CAutoLock record(&m_owner->m_recordLock);
    m_owner->m_record.samples.push_back(sample);
    if (!discarded)
        m_owner->m_record.flowingBytes += sample.actual;
    return m_checked++ == m_falseAtSample ? S_FALSE : S_OK;
}

// --- filter -------------------------------------------------------------------------------------------

CFilterRecords::CFilterRecords()
    : m_pinRecord{const_cast<LPWSTR>(L"In"), TRUE, FALSE, FALSE, FALSE, nullptr, nullptr, 1, kAnyAudio},
      m_filterRecord{&CLSID_RenderSink, kFilterName, MERIT_DO_NOT_USE, 1, &m_pinRecord}
{
}

CFilter* CFilter::Create(HRESULT* result)
{
    HRESULT hr = S_OK;
    CFilter* const filter = new CFilter(&hr);
    if (filter == nullptr)
        hr = E_OUTOFMEMORY;
    else if (FAILED(hr))
        delete static_cast<COM::CUnknown*>(filter);
    else
        filter->NonDelegatingAddRef();
    if (result != nullptr)
        *result = hr;
    return SUCCEEDED(hr) ? filter : nullptr;
}

CFilter::CFilter(HRESULT* result)
    : CFilterRecords(), CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result), m_pin(nullptr)
{
    if (FAILED(*result))
        return;
    m_pin = new CInputPin(this, result);
    if (m_pin == nullptr)
        *result = E_OUTOFMEMORY;
    else
        SetSeekingPin(m_pin->PinInterface());
}

CFilter::~CFilter()
{
    delete static_cast<COM::CUnknown*>(m_pin);
}

HRESULT STDMETHODCALLTYPE CFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IMediaSeeking) {
        *ppv = static_cast<IMediaSeeking*>(this);
        return COM::GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    }
    if (riid == IID_IFileSinkFilter || riid == IID_IFileSinkFilter2) {
        *ppv = static_cast<IFileSinkFilter2*>(this);
        return COM::GetInterface(static_cast<IFileSinkFilter2*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    // Ends a wait of the streaming thread in the stream control first.
    m_pin->NotifyFilterState(State_Stopped);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped && m_pin->IsConnected())
        hr = m_pin->Inactive();
    {
        // A Receive in progress finishes before the filter counts as stopped.
        Synchronization::CAutoLock receive(&m_receiveLock);
    }
    m_state = State_Stopped;
    return hr == VFW_E_NO_ALLOCATOR ? S_OK : hr;
}

HRESULT STDMETHODCALLTYPE CFilter::Pause()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    m_pin->NotifyFilterState(State_Paused);
    return CBaseFilter::Pause();
}

HRESULT STDMETHODCALLTYPE CFilter::Run(REFERENCE_TIME tStart)
{
    Synchronization::CAutoLock lock(&m_filterLock);
    // Paused first, so that the stream control hears of the pause before the run and not after.
    if (m_state == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr))
            return hr;
    }
    m_pin->NotifyFilterState(State_Running, tStart);
    return CBaseFilter::Run(tStart);
}

HRESULT STDMETHODCALLTYPE CFilter::SetSyncSource(IReferenceClock* clock)
{
    const HRESULT hr = CBaseFilter::SetSyncSource(clock);
    if (SUCCEEDED(hr))
        m_pin->SetSyncSource(clock);
    return hr;
}

HRESULT STDMETHODCALLTYPE CFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    const HRESULT hr = CBaseFilter::JoinFilterGraph(graph, name);
    if (SUCCEEDED(hr))
        m_pin->SetFilterGraph(EventSink());
    return hr;
}

std::vector<CReceivedSample> CFilter::Samples()
{
    Synchronization::CAutoLock lock(&m_recordLock);
    return m_record.samples;
}

CRecord CFilter::Record()
{
    Synchronization::CAutoLock lock(&m_recordLock);
    return m_record;
}

bool CFilter::WaitUntil(const std::function<bool(const CRecord&)>& condition, DWORD timeoutMs)
{
    const DWORD begin = ::GetTickCount();
    for (;;) {
        if (condition(Record()))
            return true;
        if (::GetTickCount() - begin > timeoutMs)
            return false;
        ::Sleep(5);
    }
}

} // namespace RenderSink
