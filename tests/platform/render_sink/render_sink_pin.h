#pragma once
// RenderSink::CInputPin: the sink's input pin, and the record of what it received.
#include "stdax/media_sample_properties.h"
#include "stdax/rendered_input_pin.h"
#include "stdax/stream_control.h"

#include <windows.h>
#include <strmif.h>

#include <vector>

namespace RenderSink {

class CFilter;

// One sample as it reached the pin.
struct CReceivedSample {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    DWORD flags = 0;            // AM_SAMPLE_* of the sample's properties
    long actual = 0;            // valid bytes
    long size = 0;              // buffer size
    bool discarded = false;     // stream control discarded it
    GUID typeSubtype = GUID_NULL; // with AM_SAMPLE_TYPECHANGED: the new type's subtype
    DWORD typeRate = 0;         // and its sample rate
    BYTE firstByte = 0;
};

struct CRecord {
    std::vector<CReceivedSample> samples;
    int endOfStream = 0;        // EndOfStream calls
    int beginFlush = 0;
    int endFlush = 0;
    long flowingBytes = 0;      // valid bytes of the samples that flowed
};

class CInputPin : public stdax::CRenderedInputPin, public CBaseStreamControl {
public:
    CInputPin(CFilter* filter, HRESULT* result);

    COM_FORWARD_IUNKNOWN

    // IAMStreamControl, then the rendered pin's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;

    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;

    // Knobs (set while stopped). CheckMediaType refuses this subtype (GUID_NULL: none).
    GUID m_refusedSubtype = GUID_NULL;
    // CheckMediaType also accepts MEDIATYPE_Stream: a stream sink that offers no IStream.
    bool m_acceptStream = false;
    // Receive answers S_FALSE for the sample with this index of those that passed the base checks
    // (-1: never).
    int m_falseAtSample = -1;

    IAMStreamControl* StreamControlInterface() { return static_cast<IAMStreamControl*>(this); }

private:
    CFilter* const m_owner;
    int m_checked = 0;
};

} // namespace RenderSink
