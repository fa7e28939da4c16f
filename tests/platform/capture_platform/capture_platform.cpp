#include "capture_platform.h"

#include <mmreg.h>

namespace CapturePlatform {

const CLSID CLSID_ToneCapture = {0x0a7c5e10, 0x6b2d, 0x4c1e, {0x9f, 0x30, 0x1d, 0x2c, 0x3b, 0x4a, 0x5e, 0x60}};
const CLSID CLSID_FailingRenderer = {0x0a7c5e11, 0x6b2d, 0x4c1e, {0x9f, 0x30, 0x1d, 0x2c, 0x3b, 0x4a, 0x5e, 0x60}};
const CLSID CLSID_WaveOutRenderer = {0x0a7c5e12, 0x6b2d, 0x4c1e, {0x9f, 0x30, 0x1d, 0x2c, 0x3b, 0x4a, 0x5e, 0x60}};

namespace {

// {6C3A1F00-2E4B-4D59-8A17-90B2C4D6E8xx}, xx the format tag.
constexpr CLSID CompressorId(BYTE tag)
{
    return {0x6c3a1f00, 0x2e4b, 0x4d59, {0x8a, 0x17, 0x90, 0xb2, 0xc4, 0xd6, 0xe8, tag}};
}

const CLSID kPcmCompressor = CompressorId(WAVE_FORMAT_PCM);
const CLSID kImaAdpcmCompressor = CompressorId(WAVE_FORMAT_IMA_ADPCM);
const CLSID kGsmCompressor = CompressorId(WAVE_FORMAT_GSM610);
const CLSID kALawCompressor = CompressorId(WAVE_FORMAT_ALAW);
const CLSID kMuLawCompressor = CompressorId(WAVE_FORMAT_MULAW);

} // namespace

const CompressorClass kCompressors[kCompressorCount] = {
    {WAVE_FORMAT_PCM, &kPcmCompressor, L"Test ACM PCM"},
    {WAVE_FORMAT_IMA_ADPCM, &kImaAdpcmCompressor, L"Test ACM IMA ADPCM"},
    {WAVE_FORMAT_GSM610, &kGsmCompressor, L"Test ACM GSM 6.10"},
    {WAVE_FORMAT_ALAW, &kALawCompressor, L"Test ACM A-Law"},
    {WAVE_FORMAT_MULAW, &kMuLawCompressor, L"Test ACM mu-Law"},
};

const CompressorClass* FindCompressor(WORD tag)
{
    for (const CompressorClass& entry : kCompressors) {
        if (entry.tag == tag)
            return &entry;
    }
    return nullptr;
}

} // namespace CapturePlatform
