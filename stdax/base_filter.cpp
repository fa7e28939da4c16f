#include "stdax/base_filter.h"

#include "stdax/base_pin.h"
#include "stdax/com/pointer_probes.h"
#include "stdax/enum_pins.h"
#include "support/step_sequence.h"

#include <strsafe.h>
#include <uuids.h>

namespace stdax {

namespace {

// The file or key that a registration step looked for does not exist: nothing was registered.
constexpr HRESULT NothingRegistered = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT CheckSetupData(const AMOVIESETUP_FILTER* setup)
{
    if (setup == nullptr || ::IsBadReadPtr(setup, sizeof(*setup)))
        return E_POINTER;
    if (setup->clsID == nullptr || setup->strName == nullptr)
        return CLASS_E_CLASSNOTAVAILABLE;
    if (setup->nPins == 0)
        return E_INVALIDARG;
    if (setup->lpPin == nullptr || ::IsBadReadPtr(setup->lpPin, sizeof(AMOVIESETUP_PIN) * setup->nPins))
        return E_POINTER;
    return S_OK;
}

} // namespace

CBaseFilter::CBaseFilter(const AMOVIESETUP_FILTER* setup, IUnknown* outer,
                         Synchronization::CCriticalSection* lock, HRESULT* result)
    : CUnknown(outer), m_state(State_Stopped), m_startTime(0), m_lock(lock), m_graph(nullptr),
      m_eventSink(nullptr), m_name(), m_pinVersion(1), m_setup()
{
    if (result != nullptr && FAILED(*result))
        return;
    const HRESULT hr = CheckSetupData(setup);
    if (SUCCEEDED(hr))
        m_setup = *setup;
    COM::ReportResult(result, hr);
}

CBaseFilter::~CBaseFilter() = default;

HRESULT STDMETHODCALLTYPE CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (COM::IsBadOutPointer(ppv))
        return E_POINTER;
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
        *ppv = static_cast<IBaseFilter*>(this);
        return COM::GetInterface(static_cast<IBaseFilter*>(this), ppv);
    }
    if (riid == IID_IAMovieSetup) {
        *ppv = static_cast<IAMovieSetup*>(this);
        return COM::GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    }
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME* streamTime)
{
    if (streamTime == nullptr || ::IsBadWritePtr(streamTime, sizeof(*streamTime)))
        return E_POINTER;
    if (m_clock.IsNull())
        return VFW_E_NO_CLOCK;
    const HRESULT hr = m_clock->GetTime(streamTime);
    if (SUCCEEDED(hr))
        *streamTime -= m_startTime;
    return hr;
}

LONG CBaseFilter::GetPinVersion()
{
    return m_pinVersion;
}

const AMOVIESETUP_FILTER* CBaseFilter::GetSetupData()
{
    return &m_setup;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* classId)
{
    if (classId == nullptr || ::IsBadReadPtr(classId, sizeof(*classId)) || ::IsBadWritePtr(classId, sizeof(*classId)))
        return E_POINTER;
    if (m_setup.clsID == nullptr)
        return E_UNEXPECTED;
    *classId = *m_setup.clsID;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause()
{
    Synchronization::CAutoLock lock(m_lock);
    HRESULT hr = S_OK;
    if (m_state == State_Stopped) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* const pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected())
                continue;
            hr = pin->Active();
            if (FAILED(hr))
                return hr;
        }
    }
    m_state = State_Paused;
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME tStart)
{
    Synchronization::CAutoLock lock(m_lock);
    m_startTime = tStart;
    HRESULT hr = S_OK;
    if (m_state == State_Stopped) {
        // Through the interface, so that the derived filter's Pause does its part.
        hr = static_cast<IBaseFilter*>(this)->Pause();
        if (FAILED(hr))
            return hr;
    }
    if (m_state != State_Running) {
        const int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* const pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected())
                continue;
            hr = pin->Run(tStart);
            if (FAILED(hr))
                return hr;
        }
    }
    m_state = State_Running;
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* state)
{
    if (state == nullptr || ::IsBadReadPtr(state, sizeof(*state)) || ::IsBadWritePtr(state, sizeof(*state)))
        return E_POINTER;
    *state = m_state;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock)
{
    if (clock != nullptr && ::IsBadReadPtr(clock, sizeof(void*)))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_lock);
    if (clock != m_clock.p) {
        m_clock.Release();
        m_clock = clock;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock)
{
    Synchronization::CAutoLock lock(m_lock);
    return m_clock.CopyTo(clock);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** ppEnum)
{
    if (COM::IsBadOutPointer(ppEnum))
        return E_POINTER;
    *ppEnum = CEnumPins::Create(this, nullptr);
    return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::FindPin(LPCWSTR id, IPin** ppPin)
{
    if (COM::IsBadOutPointer(ppPin))
        return E_POINTER;
    *ppPin = nullptr;
    // A name that cannot be read matches no pin.
    if (id == nullptr || ::IsBadStringPtrW(id, NameLength))
        return VFW_E_NOT_FOUND;
    Synchronization::CAutoLock lock(m_lock);
    const int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* const pin = GetPin(i);
        if (pin != nullptr && ::lstrcmpW(pin->Name(), id) == 0) {
            *ppPin = pin->PinInterface();
            (*ppPin)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (info == nullptr || ::IsBadReadPtr(info, sizeof(*info)) || ::IsBadWritePtr(info, sizeof(*info)))
        return E_POINTER;
    const HRESULT hr = ::StringCchCopyW(info->achName, NameLength, m_name);
    info->pGraph = m_graph;
    if (m_graph != nullptr)
        m_graph->AddRef();
    return hr;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    // The copy reads at most the name buffer's length.
    if ((graph != nullptr && ::IsBadReadPtr(graph, sizeof(void*))) ||
        (name != nullptr && ::IsBadStringPtrW(name, NameLength)))
        return E_POINTER;
    Synchronization::CAutoLock lock(m_lock);
    m_graph = graph;
    m_eventSink = nullptr;
    if (graph != nullptr) {
        // The sink is the graph itself: holding a reference on it would keep the graph alive from
        // inside, so only the pointer is kept.
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink != nullptr) {
            m_eventSink = sink;
            sink->Release();
        }
    }
    if (name == nullptr)
        name = L"";
    return ::StringCchCopyW(m_name, NameLength, name);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Register()
{
    return RunRegistration(true);
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Unregister()
{
    const HRESULT hr = RunRegistration(false);
    return hr == NothingRegistered ? S_OK : hr;
}

HRESULT CBaseFilter::RunRegistration(bool registering)
{
    if (GetSetupData() == nullptr)
        return S_FALSE;
    // A thread that already lives in the multithreaded apartment has COM ready: it is used as it
    // is, and only an initialisation made here is undone here.
    HRESULT hr = ::CoInitialize(nullptr);
    const bool initialised = SUCCEEDED(hr);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE)
        return hr;
    {
        COM::TPtr<IFilterMapper> mapper;
        hr = ::CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                reinterpret_cast<void**>(&mapper));
        if (SUCCEEDED(hr))
            hr = RunMapperSteps(mapper, registering);
        ::CoFreeUnusedLibraries();
    }
    if (initialised)
        ::CoUninitialize();
    return hr;
}

HRESULT CBaseFilter::RunMapperSteps(IFilterMapper* mapper, bool registering)
{
    const AMOVIESETUP_FILTER* const setup = GetSetupData();
    if (setup->clsID == nullptr || setup->strName == nullptr)
        return CLASS_E_CLASSNOTAVAILABLE;
    const CLSID filterId = *setup->clsID;

    // An earlier registration is always removed first, so that pins and types of an older version
    // of the filter do not survive.
    HRESULT hr = mapper->UnregisterFilter(filterId);
    if (registering) {
        hr = S_OK;
        CStepSequence steps(hr);
        steps.Do([&] { return mapper->RegisterFilter(filterId, setup->strName, setup->dwMerit); });
        for (UINT p = 0; p < setup->nPins && !steps.Failed(); ++p) {
            const AMOVIESETUP_PIN& pin = setup->lpPin[p];
            steps.Do([&] {
                if (pin.strName == nullptr)
                    return E_POINTER;
                if (pin.nMediaTypes != 0 &&
                    (pin.lpMediaType == nullptr ||
                     ::IsBadReadPtr(pin.lpMediaType, sizeof(AMOVIESETUP_MEDIATYPE) * pin.nMediaTypes)))
                    return E_POINTER;
                const CLSID connectsTo = pin.clsConnectsToFilter != nullptr ? *pin.clsConnectsToFilter : CLSID_NULL;
                return mapper->RegisterPin(filterId, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                                           connectsTo, pin.strConnectsToPin);
            });
            for (UINT t = 0; t < pin.nMediaTypes && !steps.Failed(); ++t) {
                const AMOVIESETUP_MEDIATYPE& type = pin.lpMediaType[t];
                steps.Do([&] {
                    if (type.clsMajorType == nullptr || type.clsMinorType == nullptr)
                        return E_POINTER;
                    return mapper->RegisterPinType(filterId, pin.strName, *type.clsMajorType, *type.clsMinorType);
                });
            }
        }
    }
    return hr == NothingRegistered ? S_OK : hr;
}

} // namespace stdax
