#pragma once
// An audio compressor on the system's ACM for one wave format tag: 16-bit PCM in, the tag's format
// out (see acm_compressor_pins.h), each output sample whole blocks of the target format. Registered
// in CLSID_AudioCompressorCategory with an output pin of type Audio / the tag's subtype, so that the
// filter mapper's search for that output type finds it under the same friendly name.
//
// Output samples are stamped from the first input sample's start time on, by the number of input
// frames converted. Lock order: the filter lock, then the receive lock; the ACM stream is opened
// when the filter leaves Stopped and closed by Stop under the receive lock.
#include "acm_codec.h"
#include "acm_compressor_pins.h"
#include "capture_platform.h"

#include "stdax/base_filter.h"
#include "support/critical_section.h"

#include <vector>

namespace CapturePlatform {

struct CAcmCompressorRecords {
    explicit CAcmCompressorRecords(const CompressorClass& compressorClass);

    const CompressorClass& m_class;
    GUID m_outputSubtype;
    Synchronization::CCriticalSection m_filterLock;
    Synchronization::CCriticalSection m_receiveLock;
    AMOVIESETUP_MEDIATYPE m_inputType;
    AMOVIESETUP_MEDIATYPE m_outputType;
    AMOVIESETUP_PIN m_pinRecords[2];
    AMOVIESETUP_FILTER m_filterRecord;
};

class CAcmCompressor : private CAcmCompressorRecords, public stdax::CBaseFilter {
public:
    // For the class factory: the compressor of the tag.
    template <WORD Tag>
    static COM::CUnknown* CreateInstance(IUnknown*, HRESULT* result)
    {
        const CompressorClass* const compressorClass = FindCompressor(Tag);
        if (compressorClass == nullptr) {
            *result = CLASS_E_CLASSNOTAVAILABLE;
            return nullptr;
        }
        return new CAcmCompressor(*compressorClass, result);
    }
    ~CAcmCompressor() override;

    int GetPinCount() override { return 2; }
    stdax::CBasePin* GetPin(int n) override;
    // Opens the ACM stream when leaving Stopped.
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Stop() override;

    WORD Tag() const { return m_class.tag; }
    CCompressorInputPin* Input() const { return m_input; }
    CCompressorOutputPin* Output() const { return m_output; }
    Synchronization::CCriticalSection* ReceiveLock() { return &m_receiveLock; }

    // The output format for an input format; VFW_E_TYPE_NOT_ACCEPTED when there is none.
    HRESULT OutputFormatFor(const WAVEFORMATEX& input, std::vector<BYTE>* format) const;
    // Set by the input pin when it is connected.
    HRESULT SetFormats(const WAVEFORMATEX& input, std::vector<BYTE>&& output);
    // The output type (empty format while the input is unconnected).
    HRESULT MakeOutputType(AM_MEDIA_TYPE* pmt) const;
    const std::vector<BYTE>& OutputFormat() const { return m_outputFormat; }

    // Streaming, under the receive lock.
    HRESULT Process(IMediaSample* sample);
    HRESULT Finish();
    void Discard();

private:
    CAcmCompressor(const CompressorClass& compressorClass, HRESULT* result);
    // Converts and delivers whole blocks of what is held back.
    HRESULT DeliverBlocks();

    CCompressorInputPin* m_input = nullptr;
    CCompressorOutputPin* m_output = nullptr;
    WAVEFORMATEX m_inputFormat = {};
    std::vector<BYTE> m_outputFormat;
    // Streaming state, under the receive lock.
    CAcmCodec m_codec;
    std::vector<BYTE> m_pending;
    bool m_haveTimeBase = false;
    REFERENCE_TIME m_timeBase = 0;
    LONGLONG m_framesOut = 0;
    bool m_discontinuity = true;
};

} // namespace CapturePlatform
