#pragma once
// The infinite tee's pins.
//
// The input pin takes any fully specified media type that the peers of the connected outputs
// accept, and offers none of its own. Every sample it receives goes, unchanged and uncopied, to every
// connected output in pin order: the outputs pass the upstream allocator (read only) to their peers,
// so one buffer serves all branches. End of stream, flushes and new segments go to every connected
// output as well.
//
// An output pin offers exactly the input's media type and can be connected only once the input is.
#include "stdax/base_input_pin.h"
#include "stdax/base_output_pin.h"

#include <windows.h>
#include <strmif.h>

namespace CapturePlatform {

class CInfTee;

class CTeeInputPin : public stdax::CBaseInputPin {
public:
    CTeeInputPin(CInfTee* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* pmt) override;

    // IMemInputPin: the allocator also goes to the connected outputs' peers.
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    // To every connected output. S_OK when an output took the sample (or none is connected),
    // otherwise the first output's answer.
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;

    // IPin: passed to every connected output.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    CInfTee* const m_tee;
};

class CTeeOutputPin : public stdax::CBaseOutputPin {
public:
    CTeeOutputPin(CInfTee* filter, const AMOVIESETUP_PIN* setup, LPCWSTR name, HRESULT* result);

    // The input's connection type, nothing else; VFW_E_NOT_CONNECTED while the input is unconnected.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    // Passes the input's allocator to the peer, and has the tee add a new output when this was
    // the last unconnected one.
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // The allocator is the upstream one: nothing to decide.
    HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) override;

    // The peer gets this allocator (read only) from now on.
    HRESULT PassAllocator(IMemAllocator* allocator);

private:
    CInfTee* const m_tee;
};

} // namespace CapturePlatform
