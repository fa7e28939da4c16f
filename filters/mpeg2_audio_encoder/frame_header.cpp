#include "filters/mpeg2_audio_encoder/frame_header.h"

namespace MPEG2AudioEncoder {

namespace {

// Layer III bit rates in kbit/s by bit-rate index (0 free format and 15 forbidden are refused earlier).
constexpr int s_bitratesMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int s_bitratesMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};

// Sampling rates by sampling-frequency index, for the version bits 00 (MPEG 2.5), 10 (MPEG-2), 11 (MPEG-1).
constexpr int s_rateMpeg25[3] = {11025, 12000, 8000};
constexpr int s_rateMpeg2[3] = {22050, 24000, 16000};
constexpr int s_rateMpeg1[3] = {44100, 48000, 32000};

constexpr BYTE VersionMpeg25 = 0;
constexpr BYTE VersionReserved = 1;
constexpr BYTE VersionMpeg1 = 3;
constexpr BYTE LayerIII = 1;
constexpr BYTE EmphasisReserved = 2;

} // namespace

int GetFrameLength(const BYTE* header)
{
    if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0)
        return -1;
    const BYTE version = (header[1] >> 3) & 3;
    const BYTE layer = (header[1] >> 1) & 3;
    const BYTE bitrateIndex = header[2] >> 4;
    const BYTE rateIndex = (header[2] >> 2) & 3;
    const BYTE padding = (header[2] >> 1) & 1;
    const BYTE emphasis = header[3] & 3;
    if (version == VersionReserved || layer != LayerIII || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3 || emphasis == EmphasisReserved)
        return -1;

    const bool mpeg1 = version == VersionMpeg1;
    const int kbps = mpeg1 ? s_bitratesMpeg1[bitrateIndex] : s_bitratesMpeg2[bitrateIndex];
    const int rate = mpeg1 ? s_rateMpeg1[rateIndex]
                           : (version == VersionMpeg25 ? s_rateMpeg25[rateIndex] : s_rateMpeg2[rateIndex]);
    const int samplesPerFrame = mpeg1 ? 1152 : 576;
    return samplesPerFrame * kbps * 1000 / (rate * 8) + padding;
}

} // namespace MPEG2AudioEncoder
