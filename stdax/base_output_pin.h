#pragma once
// stdax::CBaseOutputPin: the output pin of the library's own filters.
//
// Once connected it holds the downstream pin's IMemInputPin and the memory allocator agreed with
// that pin, hands out delivery buffers from the allocator, delivers samples and passes end of
// stream, flushes and new segments downstream.
//
// Connection: CheckConnect takes the downstream pin's IMemInputPin (a peer without it cannot be
// connected: E_NOINTERFACE). The derived pin's CompleteConnect calls
// DecideAllocator(m_inputPin, &m_allocator), which tries the downstream pin's allocator first and
// then one of its own (InitAllocator); the buffer layout comes from the derived pin's
// OnDecideBufferSize, and an allocator that does not give exactly what was asked for is refused.
// The allocator is always declared read-write to the downstream pin.
//
// Streaming: the derived pin commits the allocator in its Active; Inactive (from the filter's
// Stop) decommits it, which also wakes a streaming thread waiting in GetDeliveryBuffer.
// GetDeliveryBuffer, Deliver and the Deliver* notifications take no lock: they run on the
// filter's streaming thread and read fields that change only while the filter is stopped.
#include "stdax/base_pin.h"
#include "stdax/com/ptr.h"

#include <windows.h>
#include <strmif.h>

namespace stdax {

class CBaseOutputPin : public CBasePin {
public:
    // As CBasePin; setup must describe an output pin.
    CBaseOutputPin(CBaseFilter* filter, Synchronization::CCriticalSection* lock, const AMOVIESETUP_PIN* setup,
                   LPCWSTR name, HRESULT* result);
    ~CBaseOutputPin() override;

    // Clears the run-time error mark; VFW_E_NO_ALLOCATOR without an allocator, otherwise the
    // allocator's Decommit.
    HRESULT Inactive() override;
    // The base direction check, then the peer's IMemInputPin (its failure is the result).
    HRESULT CheckConnect(IPin* pPin) override;
    // Decommits and releases the allocator, then releases the downstream IMemInputPin. A failed
    // Decommit is returned and both are kept, so that Disconnect reports it and stays connected.
    HRESULT BreakConnect() override;

    // Chooses the allocator for a connection to pPin: pPin's own, else InitAllocator's, each set
    // up through OnDecideBufferSize. S_OK with a reference in *ppAlloc, or the last failure with
    // *ppAlloc null. E_POINTER for an unusable pPin or ppAlloc.
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc);
    // An empty sample from the allocator (the allocator's GetBuffer). E_NOINTERFACE without an
    // allocator, E_POINTER for an unwritable ppSample or unreadable times.
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    // The downstream pin's Receive. VFW_E_NOT_CONNECTED before a connection, E_POINTER for an
    // unreadable sample.
    virtual HRESULT Deliver(IMediaSample* pSample);
    // A new CLSID_MemoryAllocator.
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
    // The connected pin's EndOfStream / BeginFlush / EndFlush / NewSegment; VFW_E_NOT_CONNECTED
    // before a connection.
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
    // Receives the downstream pin's requirements (cbAlign at least 1) and writes the properties
    // the pin wants from the allocator. It must not touch the allocator itself.
    virtual HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) = 0;

    // IPin: an output pin receives no stream notifications (E_UNEXPECTED).
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* pSelf, Quality q) override;

    // The agreed allocator and the downstream transport, or null; no reference added.
    IMemAllocator* Allocator() const { return m_allocator.p; }
    IMemInputPin* InputPin() const { return m_inputPin.p; }

protected:
    // Sets pAlloc up for the requirements: OnDecideBufferSize on a copy, then SetProperties.
    // E_FAIL when the allocator answers with anything but the request.
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequirements);

    COM::TPtr<IMemAllocator> m_allocator;
    COM::TPtr<IMemInputPin> m_inputPin;
};

} // namespace stdax
