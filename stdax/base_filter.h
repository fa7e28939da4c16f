#pragma once
// stdax::CBaseFilter: the common base of the library's own filters.
//
// It implements IBaseFilter (with IMediaFilter and IPersist) and IAMovieSetup: the state machine
// Stopped / Paused / Running, the reference clock, joining and leaving a filter graph, the filter
// name, pin lookup and enumeration, the class identifier and registration with the filter mapper.
//
// A derived filter
//   - owns the filter lock and passes it in; its pins get the same lock, so a pin's connection
//     calls and the filter's state changes are serialised together;
//   - creates its pins in its constructor, deletes them in its destructor, and supplies GetPinCount
//     and GetPin;
//   - supplies Stop (telling each connected pin Inactive() and setting the state Stopped under the
//     lock), and usually a Pause that does its own work and calls CBaseFilter::Pause;
//   - answers its own interfaces in NonDelegatingQueryInterface before calling this one's.
// Lock order: the filter lock before any lock of the pins' peers (a pin's Connect calls the peer's
// ReceiveConnection while holding it) and before the derived filter's streaming lock.
#include "stdax/com/ptr.h"
#include "stdax/com/unknown.h"
#include "stdax/setup_data.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

namespace stdax {

class CBasePin;

class CBaseFilter : public COM::CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    // setup: the filter's static description (class identifier, name, merit, pins); it must stay
    // valid for the filter's life. lock: the filter lock, or null for none. When *result already
    // holds a failure nothing is checked; otherwise it receives S_OK or the reason the setup record
    // is unusable (CLASS_E_CLASSNOTAVAILABLE without class identifier or name, E_INVALIDARG without
    // pins, E_POINTER for a missing or unreadable record or pin table).
    CBaseFilter(const AMOVIESETUP_FILTER* setup, IUnknown* outer, Synchronization::CCriticalSection* lock,
                HRESULT* result);
    ~CBaseFilter() override;

    COM_FORWARD_IUNKNOWN

    // IBaseFilter, IMediaFilter and IPersist give the IBaseFilter interface, IAMovieSetup its own;
    // anything else goes to CUnknown.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // The clock's time minus the start time of the last Run; VFW_E_NO_CLOCK without a clock.
    virtual HRESULT StreamTime(REFERENCE_TIME* streamTime);
    // Enumerators taken before the pin set changed report that they are out of date.
    virtual LONG GetPinVersion();
    virtual int GetPinCount() = 0;
    // The pin with index n, or null; no reference is added.
    virtual CBasePin* GetPin(int n) = 0;
    virtual const AMOVIESETUP_FILTER* GetSetupData();

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;

    // IMediaFilter. Stop belongs to the derived filter.
    // Pause from Stopped activates every connected pin (Active) first; a pin's failure leaves the
    // filter Stopped. From Paused or Running it only changes the state.
    HRESULT STDMETHODCALLTYPE Pause() override;
    // Keeps tStart as the stream start time, pauses first when Stopped (through the derived
    // Pause), then tells every connected pin Run(tStart) unless already Running.
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
    // Never an intermediate state: the timeout is not used.
    HRESULT STDMETHODCALLTYPE GetState(DWORD milliSecondsTimeout, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;

    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
    // The first pin whose name equals id (case-sensitive); VFW_E_NOT_FOUND and null otherwise.
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** ppPin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    // The graph (not reference-counted: the graph holds the filter) and its event sink are kept;
    // null arguments, as the graph gives when it removes the filter, clear them and the name. A
    // name longer than 127 characters is cut and STRSAFE_E_INSUFFICIENT_BUFFER returned.
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* vendorInfo) override;

    // IAMovieSetup: (un)registers the filter, its pins and their media types with the filter
    // mapper. A filter that was never registered unregisters with S_OK.
    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;

    // For the framework's pins and the derived filters. The state and the graph fields change under
    // the filter lock; reading them without it gives a value that was true a moment ago.
    FILTER_STATE State() const { return m_state; }
    bool IsStopped() const { return m_state == State_Stopped; }
    bool IsActive() const { return m_state != State_Stopped; }
    IFilterGraph* Graph() const { return m_graph; }
    // The graph's event sink, or null outside a graph. Not reference-counted.
    IMediaEventSink* EventSink() const { return m_eventSink; }
    Synchronization::CCriticalSection* FilterLock() const { return m_lock; }
    IReferenceClock* Clock() const { return m_clock.p; }
    REFERENCE_TIME StartTime() const { return m_startTime; }
    // The filter's IBaseFilter interface (no reference added).
    IBaseFilter* BaseFilterInterface() { return static_cast<IBaseFilter*>(this); }

    static constexpr int NameLength = 128;

protected:
    FILTER_STATE m_state;
    COM::TPtr<IReferenceClock> m_clock;
    REFERENCE_TIME m_startTime;
    Synchronization::CCriticalSection* const m_lock;
    IFilterGraph* m_graph;
    IMediaEventSink* m_eventSink;
    WCHAR m_name[NameLength];
    LONG m_pinVersion;
    AMOVIESETUP_FILTER m_setup;

private:
    HRESULT RunRegistration(bool registering);
    HRESULT RunMapperSteps(IFilterMapper* mapper, bool registering);
};

} // namespace stdax
