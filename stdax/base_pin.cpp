#include "stdax/base_pin.h"

#include "stdax/com/pointer_probes.h"
#include "stdax/enum_media_types.h"
#include "stdax/media_type_operations.h"

#include <strsafe.h>

namespace stdax {

namespace {

// Refusals that say only "not this type": a more telling failure is preferred when there is one.
bool IsPlainRefusal(HRESULT hr)
{
    return hr == E_FAIL || hr == VFW_E_TYPE_NOT_ACCEPTED || hr == E_INVALIDARG;
}

bool IsBadMediaType(const AM_MEDIA_TYPE* pmt)
{
    return pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt));
}

} // namespace

CBasePin::CBasePin(CBaseFilter* filter, Synchronization::CCriticalSection* lock, const AMOVIESETUP_PIN* setup,
                   LPCWSTR name, HRESULT* result)
    : CUnknown(nullptr), m_name(), m_lock(lock), m_runtimeError(FALSE), m_canReconnectWhenActive(FALSE),
      m_tryMyTypesFirst(FALSE), m_filter(filter), m_qualitySink(nullptr), m_mediaTypeVersion(1),
      m_segmentStart(0), m_segmentStop(MAXLONGLONG), m_segmentRate(1.0), m_setup()
{
    InitializeMediaType(&m_mediaType);
    if (result != nullptr && FAILED(*result))
        return;

    HRESULT hr = S_OK;
    if (filter == nullptr)
        hr = E_POINTER;
    else if (lock == nullptr)
        hr = E_INVALIDARG;
    else if (setup == nullptr || ::IsBadReadPtr(setup, sizeof(*setup)))
        hr = E_POINTER;
    else if (setup->strName == nullptr)
        hr = CLASS_E_CLASSNOTAVAILABLE;
    else if (setup->nMediaTypes == 0)
        hr = VFW_E_NO_TYPES;
    else if (setup->lpMediaType == nullptr ||
             ::IsBadReadPtr(setup->lpMediaType, sizeof(AMOVIESETUP_MEDIATYPE) * setup->nMediaTypes))
        hr = E_POINTER;
    else {
        m_setup = *setup;
        hr = ::StringCchCopyW(m_name, NameLength, name != nullptr ? name : setup->strName);
    }
    COM::ReportResult(result, hr);
}

CBasePin::~CBasePin()
{
    FreeMediaTypeContents(&m_mediaType);
    m_connected.Release();
}

HRESULT STDMETHODCALLTYPE CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (COM::IsBadOutPointer(ppv))
        return E_POINTER;
    if (riid == IID_IPin) {
        *ppv = static_cast<IPin*>(this);
        return COM::GetInterface(static_cast<IPin*>(this), ppv);
    }
    if (riid == IID_IQualityControl) {
        *ppv = static_cast<IQualityControl*>(this);
        return COM::GetInterface(static_cast<IQualityControl*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingAddRef()
{
    if (m_filter == nullptr)
        return COM::TPtr<IPin>::EmptyRelease;
    return m_filter->BaseFilterInterface()->AddRef();
}

ULONG STDMETHODCALLTYPE CBasePin::NonDelegatingRelease()
{
    if (m_filter == nullptr)
        return COM::TPtr<IPin>::EmptyRelease;
    return m_filter->BaseFilterInterface()->Release();
}

LONG CBasePin::GetMediaTypeVersion()
{
    return m_mediaTypeVersion;
}

HRESULT CBasePin::Active()
{
    return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME)
{
    return S_OK;
}

HRESULT CBasePin::CheckMediaType(const AM_MEDIA_TYPE* pmt)
{
    if (m_setup.nMediaTypes == 0)
        return VFW_E_TYPE_NOT_ACCEPTED;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < m_setup.nMediaTypes; ++i) {
        const AMOVIESETUP_MEDIATYPE& entry = m_setup.lpMediaType[i];
        if (pmt == nullptr)
            hr = E_POINTER;
        else if (entry.clsMajorType == nullptr)
            hr = VFW_E_INVALIDMEDIATYPE;
        else if (entry.clsMinorType == nullptr)
            hr = VFW_E_INVALIDSUBTYPE;
        else if ((*entry.clsMajorType != GUID_NULL && *entry.clsMajorType != pmt->majortype) ||
                 (*entry.clsMinorType != GUID_NULL && *entry.clsMinorType != pmt->subtype))
            hr = S_FALSE;
        else
            return S_OK;
    }
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CBasePin::SetMediaType(const AM_MEDIA_TYPE* pmt)
{
    return AssignMediaType(&m_mediaType, pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin)
{
    PIN_DIRECTION direction = PINDIR_INPUT;
    const HRESULT hr = pPin->QueryDirection(&direction);
    if (FAILED(hr))
        return hr;
    if ((direction != PINDIR_INPUT && direction != PINDIR_OUTPUT) || direction == Direction())
        return VFW_E_INVALID_DIRECTION;
    return hr;
}

HRESULT CBasePin::CompleteConnect(IPin*)
{
    return S_OK;
}

HRESULT CBasePin::GetMediaType(int position, AM_MEDIA_TYPE* pmt)
{
    if (position < 0)
        return E_INVALIDARG;
    if (pmt == nullptr)
        return E_POINTER;
    if (static_cast<UINT>(position) >= m_setup.nMediaTypes)
        return VFW_S_NO_MORE_ITEMS;
    if (m_setup.lpMediaType == nullptr)
        return E_UNEXPECTED;
    if (::IsBadReadPtr(m_setup.lpMediaType, sizeof(AMOVIESETUP_MEDIATYPE) * m_setup.nMediaTypes))
        return E_POINTER;
    const AMOVIESETUP_MEDIATYPE& entry = m_setup.lpMediaType[position];
    // An open (null) entry offers GUID_NULL, which leaves the choice to the peer.
    pmt->majortype = entry.clsMajorType != nullptr ? *entry.clsMajorType : GUID_NULL;
    pmt->subtype = entry.clsMinorType != nullptr ? *entry.clsMinorType : GUID_NULL;
    return OnGetMediaType(position, pmt);
}

HRESULT CBasePin::OnGetMediaType(int, AM_MEDIA_TYPE*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt)
{
    if (COM::IsBadInterface(pReceivePin))
        return E_POINTER;
    if (pmt != nullptr && IsBadMediaType(pmt))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_lock);
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (!m_filter->IsStopped() && !m_canReconnectWhenActive)
        return VFW_E_NOT_STOPPED;
    const HRESULT hr = AgreeMediaType(pReceivePin, pmt);
    if (FAILED(hr))
        BreakConnect();
    return hr;
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt)
{
    if (pmt != nullptr && !IsMediaTypePartiallySpecified(pmt))
        return AttemptConnection(pReceivePin, pmt);

    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        COM::TPtr<IEnumMediaTypes> types;
        // With the flag clear the peer's types come first.
        result = pass == static_cast<int>(m_tryMyTypesFirst) ? pReceivePin->EnumMediaTypes(&types)
                                                             : EnumMediaTypes(&types);
        if (FAILED(result))
            continue;
        if (types.IsNull()) {
            result = E_UNEXPECTED;
            continue;
        }
        const HRESULT tried = TryMediaTypes(pReceivePin, pmt, types);
        if (SUCCEEDED(tried))
            return S_OK;
        // A pass that found nothing must not end as a success just because its enumerator could be
        // had.
        result = IsPlainRefusal(tried) ? VFW_E_NO_ACCEPTABLE_TYPES : tried;
    }
    return result;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt, IEnumMediaTypes* pEnum)
{
    HRESULT hr = pEnum->Reset();
    if (FAILED(hr))
        return hr;

    HRESULT remembered = S_OK;
    for (;;) {
        AM_MEDIA_TYPE* type = nullptr;
        ULONG fetched = 0;
        if (pEnum->Next(1, &type, &fetched) != S_OK)
            break;
        // A peer that miscounts what it handed out has nothing to offer here; a record it handed out
        // all the same is ours to delete.
        if (type == nullptr || fetched != 1) {
            DeleteMediaTypeRecord(type);
            break;
        }
        // A type that does not fit the caller's pattern is passed over; it is no reason of its
        // own, so it does not hide the reason a fitting type was refused for.
        if (pmt != nullptr && !MediaTypeMatchesPartially(pmt, type)) {
            DeleteMediaTypeRecord(type);
            continue;
        }
        const HRESULT attempt = AttemptConnection(pReceivePin, type);
        DeleteMediaTypeRecord(type);
        // Any success leaves the pins connected: the search is over.
        if (SUCCEEDED(attempt))
            return attempt;
        if (FAILED(attempt) && !IsPlainRefusal(attempt) && remembered == S_OK)
            remembered = attempt;
    }
    return remembered != S_OK ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt)
{
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }

    hr = CheckMediaType(pmt);
    if (hr == S_OK) {
        m_connected = pReceivePin;
        hr = SetMediaType(pmt);
        if (SUCCEEDED(hr)) {
            hr = pReceivePin->ReceiveConnection(PinInterface(), pmt);
            if (SUCCEEDED(hr)) {
                hr = CompleteConnect(pReceivePin);
                if (SUCCEEDED(hr))
                    return hr;
                // The peer took the connection: it must let go of us again.
                pReceivePin->Disconnect();
            }
        }
    } else if (SUCCEEDED(hr) || IsPlainRefusal(hr)) {
        hr = VFW_E_TYPE_NOT_ACCEPTED;
    }

    BreakConnect();
    m_connected.Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt)
{
    if (COM::IsBadInterface(pConnector) || IsBadMediaType(pmt))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_lock);
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (!m_filter->IsStopped() && !m_canReconnectWhenActive)
        return VFW_E_NOT_STOPPED;

    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != S_OK) {
        BreakConnect();
        return SUCCEEDED(hr) || IsPlainRefusal(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    m_connected = pConnector;
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr))
        hr = CompleteConnect(pConnector);
    if (FAILED(hr)) {
        m_connected.Release();
        BreakConnect();
        return hr;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect()
{
    Synchronization::CAutoLock lock(m_lock);
    if (!m_filter->IsStopped())
        return VFW_E_NOT_STOPPED;
    if (!IsConnected())
        return S_FALSE;
    const HRESULT hr = BreakConnect();
    if (FAILED(hr))
        return hr;
    m_connected.Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pPin)
{
    if (pPin == nullptr || ::IsBadWritePtr(pPin, sizeof(*pPin)))
        return E_POINTER;
    // No lock: streaming threads ask this while the graph's thread may hold the filter lock, and
    // the peer changes only while the filter is stopped.
    m_connected.CopyTo(pPin);
    return *pPin != nullptr ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)) || ::IsBadWritePtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_lock);
    if (!IsConnected()) {
        InitializeMediaType(pmt);
        return VFW_E_NOT_CONNECTED;
    }
    // Without memory for the format block the caller still learns the types.
    CopyMediaTypeContents(pmt, &m_mediaType);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* pInfo)
{
    if (pInfo == nullptr || ::IsBadWritePtr(pInfo, sizeof(*pInfo)))
        return E_POINTER;
    pInfo->pFilter = m_filter != nullptr ? m_filter->BaseFilterInterface() : nullptr;
    if (pInfo->pFilter != nullptr)
        pInfo->pFilter->AddRef();
    pInfo->dir = Direction();
    return ::StringCchCopyW(pInfo->achName, NameLength, m_name);
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* pPinDir)
{
    if (pPinDir == nullptr || ::IsBadWritePtr(pPinDir, sizeof(*pPinDir)))
        return E_POINTER;
    *pPinDir = Direction();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryId(LPWSTR* id)
{
    if (id == nullptr || ::IsBadWritePtr(id, sizeof(*id)))
        return E_POINTER;
    const size_t bytes = sizeof(WCHAR) * (::lstrlenW(m_name) + 1);
    *id = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
    if (*id == nullptr)
        return E_OUTOFMEMORY;
    ::CopyMemory(*id, m_name, bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt)
{
    if (IsBadMediaType(pmt))
        return E_POINTER;
    const HRESULT hr = CheckMediaType(pmt);
    return FAILED(hr) ? S_FALSE : hr;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum)
{
    if (COM::IsBadOutPointer(ppEnum))
        return E_POINTER;
    *ppEnum = CEnumMediaTypes::Create(this, nullptr);
    return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate)
{
    m_segmentStart = tStart;
    m_segmentStop = tStop;
    m_segmentRate = dRate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* piqc)
{
    Synchronization::CAutoLock lock(m_lock);
    if (piqc != nullptr && ::IsBadReadPtr(piqc, sizeof(void*)))
        return E_POINTER;
    m_qualitySink = piqc;
    return S_OK;
}

} // namespace stdax
