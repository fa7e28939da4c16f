#pragma once
// stdax::CBasePin: the common base of the pins of the library's own filters.
//
// It implements IPin and IQualityControl: the connection protocol (Connect on the output side,
// ReceiveConnection on the input side, agreement on a media type by trying the peer's types and
// then its own), disconnection, pin information, media type enumeration and the segment values.
// A pin describes itself through a static AMOVIESETUP_PIN record of its filter (direction, media
// types). Its reference count is its filter's: AddRef and Release reach the filter's IBaseFilter,
// and the filter deletes its pins when it goes.
//
// Hooks for derived pins (called with the filter lock held while connecting):
//   CheckConnect(peer)      - may this peer be connected at all (base: opposite direction)
//   CheckMediaType(type)    - S_OK exactly when the type is acceptable (base: the setup types)
//   SetMediaType(type)      - the type was agreed (base: kept as the connection media type)
//   CompleteConnect(peer)   - last step of a connection (base: S_OK)
//   BreakConnect()          - undo what CheckConnect/CompleteConnect set up; called after every
//                             failed attempt and by Disconnect
//   GetMediaType(n, type)   - the n-th offered type (base: the setup types, then OnGetMediaType)
//   Active(), Inactive(), Run(tStart) - the filter's state changes, with the filter lock held
// Input pins (CBaseInputPin) and output pins (CBaseOutputPin) supply Inactive, BreakConnect,
// EndOfStream, BeginFlush, EndFlush and IQualityControl::Notify.
#include "stdax/base_filter.h"
#include "stdax/com/ptr.h"
#include "stdax/com/unknown.h"
#include "stdax/setup_data.h"
#include "support/critical_section.h"

#include <windows.h>
#include <strmif.h>

namespace stdax {

class CBasePin : public COM::CUnknown, public IPin, public IQualityControl {
public:
    // filter: the owning filter (not reference-counted). lock: the filter lock. setup: the pin's
    // static record (it and its media type table must outlive the pin). name: the pin's name, or null
    // for the record's name. When *result already holds a failure nothing is checked; otherwise it
    // receives S_OK, STRSAFE_E_INSUFFICIENT_BUFFER for a name cut to 127 characters, or the reason
    // the arguments are unusable (E_POINTER without filter or with an unreadable record or type
    // table, E_INVALIDARG without lock, CLASS_E_CLASSNOTAVAILABLE without a name in the record,
    // VFW_E_NO_TYPES without media types).
    CBasePin(CBaseFilter* filter, Synchronization::CCriticalSection* lock, const AMOVIESETUP_PIN* setup,
             LPCWSTR name, HRESULT* result);
    ~CBasePin() override;

    COM_FORWARD_IUNKNOWN

    // IPin and IQualityControl; anything else goes to CUnknown.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // The filter's count (0xBAD for a pin without filter).
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    virtual LONG GetMediaTypeVersion();
    virtual HRESULT Active();
    virtual HRESULT Inactive() = 0;
    virtual HRESULT Run(REFERENCE_TIME tStart);
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt);
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt);
    virtual HRESULT CheckConnect(IPin* pPin);
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    virtual HRESULT BreakConnect() = 0;
    // VFW_S_NO_MORE_ITEMS past the last type. Fills majortype and subtype of the record (which the
    // caller has initialised) and lets OnGetMediaType complete it.
    virtual HRESULT GetMediaType(int position, AM_MEDIA_TYPE* pmt);
    virtual HRESULT OnGetMediaType(int position, AM_MEDIA_TYPE* pmt);

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pPin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

    // IQualityControl (Notify belongs to the input and output pins)
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* piqc) override;

    // For the framework and the derived pins.
    bool IsConnected() const { return m_connected.p != nullptr; }
    // The peer pin, or null; no reference is added.
    IPin* GetConnected() const { return m_connected.p; }
    bool IsOutput() const { return m_setup.bOutput != FALSE; }
    PIN_DIRECTION Direction() const { return IsOutput() ? PINDIR_OUTPUT : PINDIR_INPUT; }
    LPCWSTR Name() const { return m_name; }
    CBaseFilter* Filter() const { return m_filter; }
    const AM_MEDIA_TYPE& ConnectionType() const { return m_mediaType; }
    IPin* PinInterface() { return static_cast<IPin*>(this); }
    REFERENCE_TIME SegmentStart() const { return m_segmentStart; }
    REFERENCE_TIME SegmentStop() const { return m_segmentStop; }
    double SegmentRate() const { return m_segmentRate; }

    static constexpr int NameLength = 128;

protected:
    WCHAR m_name[NameLength];
    COM::TPtr<IPin> m_connected;
    Synchronization::CCriticalSection* const m_lock;
    BYTE m_runtimeError;
    BYTE m_canReconnectWhenActive;
    BYTE m_tryMyTypesFirst;
    CBaseFilter* const m_filter;
    IQualityControl* m_qualitySink;
    LONG m_mediaTypeVersion;
    AM_MEDIA_TYPE m_mediaType;
    REFERENCE_TIME m_segmentStart;
    REFERENCE_TIME m_segmentStop;
    double m_segmentRate;
    AMOVIESETUP_PIN m_setup;

private:
    HRESULT AgreeMediaType(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt, IEnumMediaTypes* pEnum);
    HRESULT AttemptConnection(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt);
};

} // namespace stdax
