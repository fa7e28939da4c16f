#pragma once
// MPEG2AudioEncoder::COutputPin: the encoder filter's MP3 output.
//
// It offers MEDIATYPE_Audio with the MP3 wave-format subtype (an MPEGLAYER3WAVEFORMAT built from the
// encoder's settings) and MEDIATYPE_Stream / MPEG1Audio. A MEDIATYPE_Stream connection selects stream
// output (bytes stamped with their byte positions); any other selects sample output (one frame per
// sample). Seeking is passed to the filter upstream of the input pin. The pin's allocator buffers
// are the encoder's output buffer size unless the downstream pin asks for another size.
#include "stdax/base_output_pin.h"
#include "stdax/media_seeking_pass_thru.h"

namespace MPEG2AudioEncoder {

class CFilter;

class COutputPin : public stdax::CBaseOutputPin, public stdax::IMediaSeekingPassThruImpl {
public:
    COutputPin(CFilter* filter, HRESULT* result);
    ~COutputPin() override;

    COM_FORWARD_IUNKNOWN
    // IMediaSeeking (passed upstream), then the base pin's interfaces.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT OnGetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Commits the allocator (VFW_E_NO_ALLOCATOR without one).
    HRESULT Active() override;

    // Copies cbCopy bytes into a new delivery sample of actual length cbActual, stamps it and
    // delivers it. VFW_E_BUFFER_OVERFLOW (nothing written) when the sample's buffer is smaller than
    // cbCopy. A fault while reading data gives E_ABORT.
    HRESULT Deliver(const BYTE* data, ULONG cbCopy, ULONG cbActual, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                    BOOL syncPoint);
    using stdax::CBaseOutputPin::Deliver;

    bool IsStreamOutput() const { return m_bIsStreamOutput; }

private:
    HRESULT FillAudioType(AM_MEDIA_TYPE* pmt);

    CFilter* const m_owner;
    bool m_bIsStreamOutput;
};

} // namespace MPEG2AudioEncoder
