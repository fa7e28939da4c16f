#include "probe_filter.h"

#include "stdax/media_type_operations.h"
#include "test_filter.h"

#include <evcode.h>
#include <uuids.h>

namespace StdaxTest {

namespace {

// {8D2F5A61-3C47-4B9E-A1D0-6E7F8091A2B3}
const CLSID CLSID_ProbeFilter = {0x8d2f5a61, 0x3c47, 0x4b9e, {0xa1, 0xd0, 0x6e, 0x7f, 0x80, 0x91, 0xa2, 0xb3}};

} // namespace

// --- allocator ----------------------------------------------------------------------------------------

CProbeAllocator* CProbeAllocator::Create()
{
    CProbeAllocator* const allocator = new CProbeAllocator();
    if (FAILED(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(&allocator->m_inner)))) {
        delete allocator;
        return nullptr;
    }
    return allocator;
}

HRESULT STDMETHODCALLTYPE CProbeAllocator::QueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
        *ppv = static_cast<IMemAllocator*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CProbeAllocator::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_references));
}

ULONG STDMETHODCALLTYPE CProbeAllocator::Release()
{
    const LONG count = ::InterlockedDecrement(&m_references);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CProbeAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual)
{
    m_requests.push_back(*pRequest);
    const HRESULT hr = m_inner->SetProperties(pRequest, pActual);
    if (SUCCEEDED(hr) && m_answerAlignment != 0)
        pActual->cbAlign = m_answerAlignment;
    return hr;
}

HRESULT STDMETHODCALLTYPE CProbeAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps)
{
    return m_inner->GetProperties(pProps);
}

HRESULT STDMETHODCALLTYPE CProbeAllocator::Commit()
{
    ++m_commits;
    return m_inner->Commit();
}

HRESULT STDMETHODCALLTYPE CProbeAllocator::Decommit()
{
    ++m_decommits;
    if (FAILED(m_decommitResult))
        return m_decommitResult;
    return m_inner->Decommit();
}

HRESULT STDMETHODCALLTYPE CProbeAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                                     REFERENCE_TIME* pEndTime, DWORD dwFlags)
{
    return m_inner->GetBuffer(ppBuffer, pStartTime, pEndTime, dwFlags);
}

HRESULT STDMETHODCALLTYPE CProbeAllocator::ReleaseBuffer(IMediaSample* pBuffer)
{
    return m_inner->ReleaseBuffer(pBuffer);
}

// --- output pin ---------------------------------------------------------------------------------------

CProbeOutputPin::CProbeOutputPin(CProbeFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBaseOutputPin(filter, filter->FilterLock(), setup, nullptr, result)
{
}

HRESULT CProbeOutputPin::CompleteConnect(IPin* pReceivePin)
{
    const HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
    return FAILED(hr) ? hr : DecideAllocator(m_inputPin, &m_allocator);
}

HRESULT CProbeOutputPin::OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties)
{
    m_requirementsSeen.push_back(*pProperties);
    if (pProperties->cBuffers == 0)
        pProperties->cBuffers = 2;
    if (pProperties->cbBuffer == 0)
        pProperties->cbBuffer = 4096;
    return S_OK;
}

HRESULT CProbeOutputPin::InitAllocator(IMemAllocator** ppAlloc)
{
    if (m_ownAllocator.IsNull())
        return CBaseOutputPin::InitAllocator(ppAlloc);
    return m_ownAllocator.CopyTo(ppAlloc);
}

HRESULT CProbeOutputPin::OnGetMediaType(int, AM_MEDIA_TYPE* pmt)
{
    stdax::FreeMediaTypeContents(pmt);
    MakeAudioType(pmt, MEDIASUBTYPE_PCM, 44100);
    return S_OK;
}

HRESULT CProbeOutputPin::Active()
{
    return m_allocator.IsNull() ? VFW_E_NO_ALLOCATOR : m_allocator->Commit();
}

// --- input pin ----------------------------------------------------------------------------------------

CProbeInputPin::CProbeInputPin(CProbeFilter* filter, const AMOVIESETUP_PIN* setup, HRESULT* result)
    : CBasePin(filter, filter->FilterLock(), setup, nullptr, result), m_owner(filter)
{
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IMemInputPin) {
        if (!m_offerTransport) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IMemInputPin*>(this);
        return COM::GetInterface(static_cast<IMemInputPin*>(this), ppv);
    }
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CProbeInputPin::Inactive()
{
    m_completionPending = false;
    return S_OK;
}

HRESULT CProbeInputPin::Run(REFERENCE_TIME)
{
    if (m_completionPending) {
        m_completionPending = false;
        ReportCompletion();
    }
    return S_OK;
}

HRESULT CProbeInputPin::BreakConnect()
{
    m_notified.Release();
    return S_OK;
}

void CProbeInputPin::ReportCompletion()
{
    if (m_owner->EventSink() != nullptr)
        m_owner->EventSink()->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(m_owner->Interface()));
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::EndOfStream()
{
    Synchronization::CAutoLock lock(m_lock);
    ++m_endOfStream;
    if (m_owner->State() == State_Running)
        ReportCompletion();
    else if (m_owner->State() == State_Paused)
        m_completionPending = true;
    return m_streamResult;
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::BeginFlush()
{
    ++m_beginFlush;
    return m_streamResult;
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::EndFlush()
{
    ++m_endFlush;
    return m_streamResult;
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    ++m_newSegment;
    return CBasePin::NewSegment(tStart, tStop, dRate);
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::GetAllocator(IMemAllocator** ppAllocator)
{
    if (m_offeredAllocator.IsNull()) {
        *ppAllocator = nullptr;
        return VFW_E_NO_ALLOCATOR;
    }
    return m_offeredAllocator.CopyTo(ppAllocator);
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly)
{
    if (FAILED(m_notifyResult))
        return m_notifyResult;
    m_notified = pAllocator;
    m_notifiedReadOnly = bReadOnly;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps)
{
    if (SUCCEEDED(m_requirementsResult))
        *pProps = m_requirements;
    return m_requirementsResult;
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::Receive(IMediaSample* pSample)
{
    Synchronization::CAutoLock lock(&m_receiveLock);
    CReceived received;
    received.timeResult = pSample->GetTime(&received.start, &received.stop);
    pSample->GetMediaTime(&received.mediaStart, &received.mediaStop);
    received.discontinuity = pSample->IsDiscontinuity() == S_OK;
    received.syncPoint = pSample->IsSyncPoint() == S_OK;
    received.length = pSample->GetActualDataLength();
    received.arrivalResult = m_owner->StreamTime(&received.arrival);
    BYTE* data = nullptr;
    if (SUCCEEDED(pSample->GetPointer(&data)) && received.length > 0)
        m_bytes.insert(m_bytes.end(), data, data + received.length);
    m_samples.push_back(received);
    return m_receiveResult;
}

HRESULT STDMETHODCALLTYPE CProbeInputPin::ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nSamplesProcessed)
{
    HRESULT hr = S_OK;
    *nSamplesProcessed = 0;
    for (long i = 0; i < nSamples && hr == S_OK; ++i) {
        hr = Receive(pSamples[i]);
        if (hr == S_OK)
            ++*nSamplesProcessed;
    }
    return hr;
}

// --- filter -------------------------------------------------------------------------------------------

CProbeFilterRecords::CProbeFilterRecords(bool output)
    : m_type{output ? &MEDIATYPE_Audio : &GUID_NULL, output ? &MEDIASUBTYPE_PCM : &GUID_NULL},
      m_pinRecord{const_cast<LPWSTR>(output ? L"Out" : L"In"), FALSE, output ? TRUE : FALSE, FALSE, FALSE, nullptr,
                  nullptr, 1, &m_type},
      m_filterRecord{&CLSID_ProbeFilter, L"Probe Filter", MERIT_DO_NOT_USE, 1, &m_pinRecord}
{
}

CProbeFilter::CProbeFilter(bool output, HRESULT* result)
    : CProbeFilterRecords(output), CBaseFilter(&m_filterRecord, nullptr, &m_filterLock, result), m_output(output)
{
    if (FAILED(*result))
        return;
    if (output)
        m_pin = new CProbeOutputPin(this, &m_pinRecord, result);
    else
        m_pin = new CProbeInputPin(this, &m_pinRecord, result);
    if (m_pin == nullptr)
        *result = E_OUTOFMEMORY;
}

CProbeFilter::~CProbeFilter()
{
    delete static_cast<COM::CUnknown*>(m_pin);
}

namespace {

CProbeFilter* Finish(CProbeFilter* filter, HRESULT hr)
{
    if (filter == nullptr)
        return nullptr;
    if (FAILED(hr)) {
        delete static_cast<COM::CUnknown*>(filter);
        return nullptr;
    }
    filter->NonDelegatingAddRef();
    return filter;
}

} // namespace

CProbeFilter* CProbeFilter::CreateSource()
{
    HRESULT hr = S_OK;
    CProbeFilter* const filter = new CProbeFilter(true, &hr);
    return Finish(filter, hr);
}

CProbeFilter* CProbeFilter::CreateSink()
{
    HRESULT hr = S_OK;
    CProbeFilter* const filter = new CProbeFilter(false, &hr);
    return Finish(filter, hr);
}

HRESULT STDMETHODCALLTYPE CProbeFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IAMFilterMiscFlags && !m_output) {
        *ppv = static_cast<IAMFilterMiscFlags*>(this);
        return COM::GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT STDMETHODCALLTYPE CProbeFilter::Stop()
{
    Synchronization::CAutoLock lock(&m_filterLock);
    HRESULT hr = S_OK;
    if (m_state != State_Stopped && m_pin->IsConnected())
        hr = m_pin->Inactive();
    m_state = State_Stopped;
    return hr;
}

} // namespace StdaxTest
