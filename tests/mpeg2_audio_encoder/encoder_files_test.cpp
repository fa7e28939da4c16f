// Streams written to files for the decoder checks on the Linux side (check_encoder_files.py reads
// "encoder_files.txt"), and the rewrite of the tag frame through IStream.
#include "mpeg2_audio_encoder/encoder_test_support.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace EncoderTest;

constexpr BYTE s_id3Header[10] = {'I', 'D', '3', 3, 0, 0, 0x00, 0x00, 0x02, 0x01};   // 257 bytes follow
constexpr size_t s_id3Length = 267;

COM::TPtr<IStream> CreateFileStream(const wchar_t* path)
{
    COM::TPtr<IStream> stream;
    EXPECT_EQ(::SHCreateStreamOnFileEx(path, STGM_CREATE | STGM_READWRITE | STGM_SHARE_DENY_WRITE,
                                       FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, &stream),
              S_OK);
    return stream;
}

void WriteAll(IStream* stream, const void* data, size_t size)
{
    ULONG written = 0;
    ASSERT_EQ(stream->Write(data, static_cast<ULONG>(size), &written), S_OK);
    ASSERT_EQ(written, size);
}

// An open encoder with a tag frame, ready to encode.
void OpenTagged(CTestEncoder& test, DWORD rate, WORD channels, DWORD kbps, LONG vbrMode)
{
    EncoderSettings s{};
    ASSERT_EQ(test.settings->GetEncoderSettings(&s), S_OK);
    s.dwBitrateKbps = kbps;
    s.dwVbrMode = vbrMode;
    s.dwVbrMinKbps = 32;
    s.dwVbrMaxKbps = 320;
    s.bWriteTagFrame = 1;
    ASSERT_EQ(test.settings->SetEncoderSettings(&s), S_OK);
    const WAVEFORMATEX format = PcmFormat(rate, channels);
    ASSERT_EQ(test.encoder->SetInputType(&format), S_OK);
    ASSERT_EQ(test.encoder->Open(), S_OK);
}

struct ToneCase {
    const char* name;
    DWORD rate;
    WORD channels;
    DWORD kbps;
    LONG vbrMode;
    double leftHz;
    double rightHz;
    // LAME leaves the tag out when its headers (side information and 156 bytes) do not fit one frame
    // of the stream's bit rate (of 128 kbit/s at 44100 Hz and 64 kbit/s at 22050 Hz in VBR streams).
    bool tagFits;
};

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// Each tone twice: as a run of bytes with the rewritten tag frame ("<name>.mp3"), and frame by frame
// ("<name>.frames.mp3"). The manifest tells the Linux checks what to expect.
TEST(EncoderFiles, TonesForTheDecoderChecks)
{
    const ToneCase cases[] = {
        {"stereo44100_cbr128", 44100, 2, 128, vbr_off, 440, 660, true},
        {"mono44100_cbr32", 44100, 1, 32, vbr_off, 440, 0, false},       // 104-byte frames
        {"stereo22050_cbr32", 22050, 2, 32, vbr_off, 330, 550, false},   // 104-byte frames
        {"mono22050_cbr128", 22050, 1, 128, vbr_off, 1000, 0, true},
        {"mono8000_cbr32", 8000, 1, 32, vbr_off, 440, 0, true},
        {"stereo8000_cbr64", 8000, 2, 64, vbr_off, 300, 500, true},
        {"stereo44100_vbr", 44100, 2, 128, vbr_mtrh, 440, 660, true},
        {"mono22050_vbr", 22050, 1, 128, vbr_mtrh, 700, 0, true},
    };
    FILE* manifest = _wfopen(L"encoder_files.txt", L"w");
    ASSERT_NE(manifest, nullptr);
    for (const ToneCase& c : cases) {
        const size_t sampleFrames = c.rate * 3 + 77;
        const std::vector<short> pcm = Tone(c.rate, c.channels, sampleFrames, c.leftHz, c.rightHz);
        for (const bool withId3 : {false, true}) {
            if (withId3 && std::strcmp(c.name, "stereo44100_cbr128") != 0)
                continue;
            const std::string name = std::string(withId3 ? "id3_" : "") + c.name;
            CTestEncoder test;
            OpenTagged(test, c.rate, c.channels, c.kbps, c.vbrMode);
            COM::TPtr<IStream> file = CreateFileStream(Widen(name + ".mp3").c_str());
            ASSERT_TRUE(file.IsValid());
            if (withId3) {
                std::vector<BYTE> tag(s_id3Length, 0);
                std::memcpy(tag.data(), s_id3Header, sizeof(s_id3Header));
                WriteAll(file, tag.data(), tag.size());
            }
            const std::vector<BYTE> stream = EncodeAll(test.encoder, pcm, false);
            WriteAll(file, stream.data(), stream.size());
            // A tag that LAME cannot give is reported, and the file is left as it was.
            EXPECT_EQ(test.encoder->Close(file), c.tagFits ? S_OK : E_FAIL) << name;
            file.Release();
            std::fprintf(manifest, "%s.mp3 %lu %u %lu %s %g %g %u %u %s\n", name.c_str(), c.rate, c.channels,
                         c.kbps, c.vbrMode == vbr_off ? "cbr" : "vbr", c.leftHz, c.rightHz,
                         static_cast<unsigned>(sampleFrames), withId3 ? static_cast<unsigned>(s_id3Length) : 0u,
                         c.tagFits ? "tagged" : "untagged");
        }

        CTestEncoder test;
        OpenTagged(test, c.rate, c.channels, c.kbps, c.vbrMode);
        const std::vector<BYTE> frames = EncodeAll(test.encoder, pcm, true);
        EXPECT_EQ(test.encoder->Close(nullptr), S_OK);
        ASSERT_TRUE(WriteFileBytes(Widen(std::string(c.name) + ".frames.mp3").c_str(), frames));
        std::fprintf(manifest, "%s.frames.mp3 %lu %u %lu %s %g %g %u 0 frames\n", c.name, c.rate, c.channels, c.kbps,
                     c.vbrMode == vbr_off ? "cbr" : "vbr", c.leftHz, c.rightHz, static_cast<unsigned>(sampleFrames));
    }
    std::fclose(manifest);
}

// In memory: the reserved frame is replaced by LAME's tag (an "Info" header in a constant bit-rate
// stream), the rest stays, and the stream is left just behind the tag frame.
TEST(EncoderTagFrame, RewrittenInAMemoryStream)
{
    CTestEncoder test;
    OpenTagged(test, 44100, 2, 128, vbr_off);
    const std::vector<BYTE> encoded = EncodeAll(test.encoder, Tone(44100, 2, 44100, 440, 660), false);
    ASSERT_GT(encoded.size(), 417u);
    COM::TPtr<IStream> stream;
    ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    WriteAll(stream, encoded.data(), encoded.size());

    CEncoderLogReader log;
    ASSERT_EQ(test.encoder->Close(stream), S_OK);
    const std::vector<std::wstring> expected = {
        L"MPEG2AudioEncoder::CEncoder::UpdateLameTagFrame() begin\x2026",
        L"  MPEG2AudioEncoder::CEncoder::SkipID3V2() begin\x2026",
        L"    MPEG2AudioEncoder::CEncoder::MaybeSyncWord() begin\x2026",
        L"    MPEG2AudioEncoder::CEncoder::MaybeSyncWord() done, return 0x00000000.",
        L"    MPEG2AudioEncoder::CEncoder::MaybeSyncWord() begin\x2026",
        L"    MPEG2AudioEncoder::CEncoder::MaybeSyncWord() done, return 0x00000000.",
        L"  MPEG2AudioEncoder::CEncoder::SkipID3V2() done, return 0x00000000.",
        L"MPEG2AudioEncoder::CEncoder::UpdateLameTagFrame() done, return 0x00000000.",
    };
    EXPECT_EQ(log.NewLines(), expected);

    LARGE_INTEGER zero{};
    ULARGE_INTEGER position{};
    ASSERT_EQ(stream->Seek(zero, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 417u);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, encoded.size());

    std::vector<BYTE> after(encoded.size());
    ASSERT_EQ(stream->Seek(zero, STREAM_SEEK_SET, nullptr), S_OK);
    ULONG read = 0;
    ASSERT_EQ(stream->Read(after.data(), static_cast<ULONG>(after.size()), &read), S_OK);
    ASSERT_EQ(read, after.size());
    // MPEG-1 stereo: the tag follows the 4-byte header and 32 bytes of side information.
    EXPECT_EQ(std::memcmp(after.data(), encoded.data(), 4), 0);
    EXPECT_EQ(std::memcmp(after.data() + 36, "Info", 4), 0);
    EXPECT_NE(std::search(after.begin(), after.begin() + 417, "LAME", "LAME" + 4), after.begin() + 417);
    EXPECT_TRUE(std::equal(after.begin() + 417, after.end(), encoded.begin() + 417));
}

// A stream that does not start with the expected frames (behind an optional ID3v2 tag) is not written:
// Close fails with E_FAIL, releases LAME, and the file keeps every byte.
TEST(EncoderTagFrame, FilesOfAnotherLayoutAreLeftUnchanged)
{
    std::vector<BYTE> encoded;
    {
        CTestEncoder test;
        OpenTagged(test, 44100, 2, 128, vbr_off);
        encoded = EncodeAll(test.encoder, Tone(44100, 2, 22050, 440, 660), false);
        EXPECT_EQ(test.encoder->Close(nullptr), S_OK);
    }
    auto with = [&](std::vector<BYTE> prefix, size_t keep) {
        prefix.insert(prefix.end(), encoded.begin(), encoded.begin() + std::min(keep, encoded.size()));
        return prefix;
    };
    std::vector<BYTE> id3OneShort(s_id3Length - 1, 0);
    std::memcpy(id3OneShort.data(), s_id3Header, sizeof(s_id3Header));
    std::vector<BYTE> garbageAfterTagFrame = encoded;
    std::memset(garbageAfterTagFrame.data() + 417, 0x20, 4);
    const std::vector<std::vector<BYTE>> files = {
        with(std::vector<BYTE>(100, 'x'), encoded.size()),   // text before the frames
        with(id3OneShort, encoded.size()),                    // ID3v2 size that misses the first frame
        with({}, 6),                                          // too short for an ID3v2 header
        with({}, 417 + 3),                                    // the tag frame and three bytes
        garbageAfterTagFrame,                                 // no frame behind the tag frame
    };
    int index = 0;
    for (const std::vector<BYTE>& content : files) {
        const std::wstring path = L"foreign" + std::to_wstring(index++) + L".bin";
        ASSERT_TRUE(WriteFileBytes(path.c_str(), content));
        CTestEncoder test;
        OpenTagged(test, 44100, 2, 128, vbr_off);
        EncodeAll(test.encoder, Tone(44100, 2, 22050, 440, 660), false);
        COM::TPtr<IStream> stream;
        ASSERT_EQ(::SHCreateStreamOnFileEx(path.c_str(), STGM_READWRITE | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL,
                                           FALSE, nullptr, &stream),
                  S_OK);
        EXPECT_EQ(test.encoder->Close(stream), E_FAIL) << index;
        EXPECT_EQ(test.encoder->Close(stream), S_FALSE);
        stream.Release();
        EXPECT_EQ(ReadFileBytes(path.c_str()), content) << index;
    }
}

} // namespace
