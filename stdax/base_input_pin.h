#pragma once
// stdax::CBaseInputPin: the input pin of the library's own filters.
//
// A CBasePin that also implements IMemInputPin: it keeps the allocator agreed with the upstream pin
// (creating a platform memory allocator when asked before one was notified), checks every incoming
// sample against the pin's state (connected, filter not stopped, not flushing, no run-time error),
// refuses in-stream media type changes that CheckMediaType does not accept, and keeps the flushing
// state between BeginFlush and EndFlush.
//
// A derived pin
//   - replaces Receive and calls CBaseInputPin::Receive first; any result but S_OK (S_FALSE while
//     flushing) is returned at once without touching the sample's data;
//   - supplies EndOfStream and EndFlush (and usually BeginFlush, calling this one's);
//   - has its filter call Inactive() from the filter's Stop, which decommits the allocator and
//     clears the flushing state and the run-time error.
// Lock use: the filter lock (the pin's lock) guards the allocator and the flushing flag; streaming
// calls (Receive, ReceiveMultiple, CheckStreaming) take no lock of this class.
#include "stdax/base_pin.h"
#include "stdax/com/ptr.h"

#include <windows.h>
#include <strmif.h>

namespace stdax {

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    // As CBasePin: the filter, its filter lock, the pin's static record, an optional name.
    CBaseInputPin(CBaseFilter* filter, Synchronization::CCriticalSection* lock, const AMOVIESETUP_PIN* setup,
                  LPCWSTR name, HRESULT* result);
    ~CBaseInputPin() override;

    COM_FORWARD_IUNKNOWN

    // IMemInputPin, then CBasePin's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Clears the flushing state and the run-time error and decommits the allocator
    // (VFW_E_NO_ALLOCATOR when there is none).
    HRESULT Inactive() override;
    // Decommits and releases the allocator (S_OK without one).
    HRESULT BreakConnect() override;

    // In this order: VFW_E_NOT_CONNECTED, VFW_E_WRONG_STATE (filter stopped), S_FALSE (flushing),
    // VFW_E_RUNTIME_ERROR (after a refused in-stream type change), else S_OK. No lock.
    virtual HRESULT CheckStreaming();
    // Marks the stream as failed, ends it (this pin's EndOfStream through IPin) and tells the graph
    // EC_ERRORABORT with hr.
    virtual HRESULT RaiseRuntimeError(HRESULT hr);
    // Marks the stream as failed and tells the graph EC_ERRORABORT with hr, without an end of stream:
    // for a stream that did not complete (a renderer whose writes fail, a filter whose downstream
    // refuses for good), so that nothing downstream reports completion. The result of the notification
    // (E_NOTIMPL without an event sink).
    HRESULT AbortStream(HRESULT hr);

    // The properties of the allocator this pin uses (created as in GetAllocator when none was
    // notified yet). props is zeroed first.
    HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES* props);

    // IPin: flushing lasts until the derived EndFlush clears it (or Inactive).
    HRESULT STDMETHODCALLTYPE BeginFlush() override;

    // IQualityControl: input pins take note of nothing; E_POINTER without a sender.
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* pSelf, Quality q) override;

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** pSamples, long nSamples, long* nSamplesProcessed) override;
    // S_FALSE only when every connected output pin of the filter has a peer that says its Receive
    // does not block; S_OK otherwise (also for a filter without connected output pins).
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    bool IsFlushing() const { return m_flushing != FALSE; }
    bool IsReadOnly() const { return m_readOnly != FALSE; }
    bool HasRuntimeError() const { return m_runtimeError != FALSE; }
    // The agreed allocator, or null; no reference is added.
    IMemAllocator* Allocator() const { return m_allocator.p; }
    IMemInputPin* MemInputPinInterface() { return static_cast<IMemInputPin*>(this); }

protected:
    COM::TPtr<IMemAllocator> m_allocator;
    BYTE m_readOnly;
    BYTE m_flushing;
};

} // namespace stdax
