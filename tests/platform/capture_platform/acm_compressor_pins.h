#pragma once
// The ACM compressor's pins.
//
// Input "Input": Audio / PCM / WaveFormatEx, 16 bits, 1 or 2 channels, at a rate the ACM can convert
// to the compressor's tag; once the output is connected, only formats that give the same output.
// Output "Output": Audio / the tag's subtype / WaveFormatEx with the format the ACM suggests for the
// input (extra bytes included); it can be connected once the input is.
#include "stdax/base_input_pin.h"
#include "stdax/base_output_pin.h"

#include <windows.h>
#include <strmif.h>

namespace CapturePlatform {

class CAcmCompressor;

class CCompressorInputPin : public stdax::CBaseInputPin {
public:
    CCompressorInputPin(CAcmCompressor* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    // Works out the output format for the agreed input.
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt) override;

    // Converted whole blocks go out as they fill.
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* pSample) override;
    // What is left is padded with silence to a whole block and sent, then end of stream.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    // Drops what was held back.
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    CAcmCompressor* const m_compressor;
};

class CCompressorOutputPin : public stdax::CBaseOutputPin {
public:
    CCompressorOutputPin(CAcmCompressor* filter, const AMOVIESETUP_PIN* setup, HRESULT* result);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetMediaType(int position, AM_MEDIA_TYPE* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    // Whole blocks, about a tenth of a second of output each, at least one block.
    HRESULT OnDecideBufferSize(ALLOCATOR_PROPERTIES* pProperties) override;
    HRESULT Active() override;

private:
    CAcmCompressor* const m_compressor;
};

} // namespace CapturePlatform
