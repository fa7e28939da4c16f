#include "filters/mpeg2_audio_encoder/frame_header.h"
#include "mpeg2_audio_encoder/encoder_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace EncoderTest;
using MPEG2AudioEncoder::CEncoderTestSeam;
using MPEG2AudioEncoder::GetFrameLength;

int Length(BYTE b0, BYTE b1, BYTE b2, BYTE b3)
{
    const BYTE header[4] = {b0, b1, b2, b3};
    return GetFrameLength(header);
}

TEST(FrameLength, LayerIIIBitRatesAndSampleRatesOfAllThreeVersions)
{
    EXPECT_EQ(Length(0xFF, 0xFB, 0x90, 0x64), 417);   // MPEG-1, 128 kbit/s, 44100 Hz
    EXPECT_EQ(Length(0xFF, 0xFB, 0x92, 0x64), 418);   // padding bit
    EXPECT_EQ(Length(0xFF, 0xFA, 0x90, 0x64), 417);   // protection bit is not looked at
    EXPECT_EQ(Length(0xFF, 0xF3, 0x80, 0xC4), 208);   // MPEG-2, 64 kbit/s, 22050 Hz
    EXPECT_EQ(Length(0xFF, 0xFB, 0xE8, 0x00), 1440);  // MPEG-1, 320 kbit/s, 32000 Hz
    EXPECT_EQ(Length(0xFF, 0xE3, 0x18, 0xC4), 72);    // MPEG 2.5, 8 kbit/s, 8000 Hz
    EXPECT_EQ(Length(0xFF, 0xFB, 0x14, 0x00), 96);    // MPEG-1, 32 kbit/s, 48000 Hz
    EXPECT_EQ(Length(0xFF, 0xF3, 0xE4, 0x00), 480);   // MPEG-2, 160 kbit/s, 24000 Hz
    EXPECT_EQ(Length(0xFF, 0xE3, 0x10, 0x00), 52);    // MPEG 2.5, 8 kbit/s, 11025 Hz
    EXPECT_EQ(Length(0xFF, 0xFB, 0x93, 0x67), 418);   // private bit, mode and emphasis 11 do not matter
}

TEST(FrameLength, UnusableHeadersAreRefused)
{
    EXPECT_EQ(Length(0xFE, 0xFB, 0x90, 0x64), -1);    // no sync byte
    EXPECT_EQ(Length(0xFF, 0xDB, 0x90, 0x64), -1);    // sync bits of byte 1 incomplete
    EXPECT_EQ(Length(0xFF, 0xFB, 0x00, 0x64), -1);    // free format
    EXPECT_EQ(Length(0xFF, 0xFB, 0xF0, 0x64), -1);    // bit-rate index 15
    EXPECT_EQ(Length(0xFF, 0xFB, 0x9C, 0x64), -1);    // sampling index 3
    EXPECT_EQ(Length(0xFF, 0xEB, 0x90, 0x64), -1);    // version 01 (reserved)
    EXPECT_EQ(Length(0xFF, 0xFD, 0x90, 0x64), -1);    // Layer II
    EXPECT_EQ(Length(0xFF, 0xFF, 0x90, 0x64), -1);    // Layer I
    EXPECT_EQ(Length(0xFF, 0xF9, 0x90, 0x64), -1);    // layer 00 (reserved)
    EXPECT_EQ(Length(0xFF, 0xFB, 0x90, 0x66), -1);    // emphasis 10 (reserved)
}

// Bytes that are not a frame header are passed over one at a time until a frame starts; a frame that is
// not complete yet stays in the buffer.
TEST(FrameLength, GetFrameResynchronisesOnGarbage)
{
    CTestEncoder test;
    const WAVEFORMATEX format = PcmFormat(44100, 2);
    ASSERT_EQ(test.encoder->SetInputType(&format), S_OK);
    ASSERT_EQ(test.encoder->Open(), S_OK);

    CEncoder& encoder = test.Object();
    BYTE* const buffer = CEncoderTestSeam::Output(encoder);
    const BYTE frame417[4] = {0xFF, 0xFB, 0x90, 0x64};
    const BYTE frame418[4] = {0xFF, 0xFB, 0x92, 0x64};
    const BYTE badHeader[4] = {0xFF, 0xFB, 0xF0, 0x64};
    size_t at = 0;
    auto put = [&](const BYTE* header, size_t length) {
        std::memset(buffer + at, 0x11, length);
        std::memcpy(buffer + at, header, 4);
        at += length;
    };
    const BYTE garbage[3] = {0x00, 0xFF, 0x12};
    std::memcpy(buffer, garbage, 3);
    at = 3;
    put(frame417, 417);                 // first frame since Open: passed over
    put(badHeader, 4);                  // four bytes that look almost like a header
    const size_t second = at;
    put(frame418, 418);
    const size_t third = at;
    put(frame417, 417);
    put(frame417, 200);                 // an incomplete frame at the end
    CEncoderTestSeam::Fill(encoder) = static_cast<LONG>(at);
    CEncoderTestSeam::Read(encoder) = 0;

    BYTE* frame = nullptr;
    ULONG length = 0;
    ASSERT_EQ(test.encoder->GetFrame(&frame, &length), S_OK);
    EXPECT_EQ(length, 418u);
    EXPECT_EQ(frame, buffer + second);
    ASSERT_EQ(test.encoder->GetFrame(&frame, &length), S_OK);
    EXPECT_EQ(length, 417u);
    EXPECT_EQ(frame, buffer + third);
    ASSERT_EQ(test.encoder->GetFrame(&frame, &length), S_OK);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(CEncoderTestSeam::Read(encoder), static_cast<LONG>(at - 200));
    EXPECT_EQ(test.encoder->Close(nullptr), S_OK);
}

} // namespace
