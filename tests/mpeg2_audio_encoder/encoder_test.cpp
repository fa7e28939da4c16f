#include "mpeg2_audio_encoder/encoder_test_support.h"

#include <gtest/gtest.h>
#include <vfwmsgs.h>

#include <cstring>

namespace {

using namespace EncoderTest;
using MPEG2AudioEncoder::CEncoderTestSeam;
using MPEG2AudioEncoder::IID_IEncoder;
using MPEG2AudioEncoder::IID_IEncoderSettings;

// An encoder with an input type and, optionally, changed settings, opened.
void OpenWith(CTestEncoder& test, const WAVEFORMATEX& format, void (*change)(EncoderSettings&) = nullptr)
{
    ASSERT_EQ(test.encoder->SetInputType(&format), S_OK);
    if (change != nullptr) {
        EncoderSettings settings{};
        ASSERT_EQ(test.settings->GetEncoderSettings(&settings), S_OK);
        change(settings);
        ASSERT_EQ(test.settings->SetEncoderSettings(&settings), S_OK);
    }
    ASSERT_EQ(test.encoder->Open(), S_OK);
}

// --- COM identity -----------------------------------------------------------------------------------

// Stands in for the filter that aggregates the encoder: counts the calls that reach it.
class COuter : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        ++queries;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    LONG queries = 0;
    LONG references = 1;
};

TEST(EncoderObject, AggregatedEncoderForwardsItsInterfacesToTheOuterObject)
{
    COuter outer;
    HRESULT hr = S_OK;
    CEncoder inner(&outer, &hr);
    ASSERT_EQ(hr, S_OK);
    void* ppv = nullptr;
    ASSERT_EQ(inner.NonDelegatingQueryInterface(IID_IEncoderSettings, &ppv), S_OK);
    EXPECT_EQ(outer.references, 2);   // the reference went to the outer object
    IEncoderSettings* const settings = static_cast<IEncoderSettings*>(ppv);
    void* other = nullptr;
    EXPECT_EQ(settings->QueryInterface(IID_IEncoder, &other), E_NOINTERFACE);
    EXPECT_EQ(outer.queries, 1);
    settings->Release();
    EXPECT_EQ(outer.references, 1);
}

// --- settings and input type ------------------------------------------------------------------------

TEST(EncoderSettingsRecord, DefaultsRoundTripAndBufferSize)
{
    CTestEncoder test;
    EncoderSettings s{};
    ASSERT_EQ(test.settings->GetEncoderSettings(&s), S_OK);
    const DWORD expected[24] = {44100, 128, 0, 80, 80, 5, 4, 3, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(&s, expected, sizeof(expected)), 0);

    EncoderSettings changed = s;
    changed.dwBitrateKbps = 64;
    changed.dwReserved5 = 0xDEADBEEF;   // reserved fields are kept and returned
    ASSERT_EQ(test.settings->SetEncoderSettings(&changed), S_OK);
    EncoderSettings back{};
    ASSERT_EQ(test.settings->GetEncoderSettings(&back), S_OK);
    EXPECT_EQ(std::memcmp(&back, &changed, sizeof(back)), 0);
    test.settings->SetDefaultEncoderSettings();
    ASSERT_EQ(test.settings->GetEncoderSettings(&back), S_OK);
    EXPECT_EQ(std::memcmp(&back, expected, sizeof(expected)), 0);

    ULONG size = 0;
    EXPECT_EQ(test.settings->GetSizeofOutputBuffer(&size), S_OK);
    EXPECT_EQ(size, 16384u);
    EXPECT_EQ(test.settings->GetSizeofOutputBuffer(nullptr), E_POINTER);
    EXPECT_EQ(test.settings->GetEncoderSettings(nullptr), E_POINTER);
    EXPECT_EQ(test.settings->SetEncoderSettings(nullptr), E_POINTER);
}

TEST(EncoderInputType, AcceptsSixteenBitPcmAtTheNineRatesOnly)
{
    CTestEncoder test;
    for (const DWORD rate : {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000})
        for (const WORD channels : {1, 2}) {
            const WAVEFORMATEX format = PcmFormat(rate, channels);
            EXPECT_EQ(test.encoder->CheckInputType(&format), S_OK) << rate << " Hz, " << channels;
        }
    WAVEFORMATEX refused[8];
    refused[0] = PcmFormat(44100, 2, 8);
    refused[1] = PcmFormat(44100, 2, 24);
    refused[2] = PcmFormat(44100, 3);
    refused[3] = PcmFormat(96000, 2);
    refused[4] = PcmFormat(44100, 2);
    refused[4].cbSize = 22;
    refused[5] = PcmFormat(44100, 2);
    refused[5].wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    refused[6] = PcmFormat(44100, 0);
    refused[7] = PcmFormat(44101, 1);
    for (const WAVEFORMATEX& format : refused)
        EXPECT_EQ(test.encoder->CheckInputType(&format), VFW_E_UNSUPPORTED_AUDIO);
    EXPECT_EQ(test.encoder->CheckInputType(nullptr), E_POINTER);

    // A refused type changes nothing; an accepted one is kept and sets the output rate.
    WAVEFORMATEX out{};
    EXPECT_EQ(test.encoder->SetInputType(&refused[3]), VFW_E_UNSUPPORTED_AUDIO);
    EXPECT_EQ(test.encoder->GetInputType(&out), VFW_E_NO_TYPES);
    EXPECT_EQ(test.encoder->GetInputType(nullptr), E_POINTER);
    const WAVEFORMATEX format = PcmFormat(22050, 1);
    EXPECT_EQ(test.encoder->SetInputType(&format), S_OK);
    EXPECT_EQ(test.encoder->GetInputType(&out), S_OK);
    EXPECT_EQ(std::memcmp(&out, &format, sizeof(out)), 0);
    EncoderSettings s{};
    ASSERT_EQ(test.settings->GetEncoderSettings(&s), S_OK);
    EXPECT_EQ(s.dwOutSampleRate, 22050u);
}

// --- open and the LAME configuration ----------------------------------------------------------------

TEST(EncoderOpen, StateRules)
{
    CTestEncoder test;
    BYTE* data = reinterpret_cast<BYTE*>(1);
    ULONG a = 1;
    ULONG b = 1;
    EXPECT_EQ(test.encoder->Close(nullptr), S_FALSE);
    EXPECT_EQ(test.encoder->Open(), E_UNEXPECTED);   // no input type
    EXPECT_EQ(test.encoder->GetFrame(&data, &a), E_UNEXPECTED);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(test.encoder->GetBlockAligned(4, &data, &a, &b), E_UNEXPECTED);
    EXPECT_EQ(test.encoder->Flush(), E_UNEXPECTED);
    const short pcm[4] = {};
    EXPECT_EQ(test.encoder->Encode(pcm, sizeof(pcm), &a), E_UNEXPECTED);
    EXPECT_EQ(a, 0u);

    const WAVEFORMATEX format = PcmFormat(44100, 2);
    ASSERT_EQ(test.encoder->SetInputType(&format), S_OK);
    ASSERT_EQ(test.encoder->Open(), S_OK);
    EXPECT_EQ(test.encoder->Open(), E_UNEXPECTED);
    EXPECT_EQ(test.encoder->GetFrame(&data, &a), S_OK);   // nothing complete yet
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(test.encoder->Close(nullptr), S_OK);
    EXPECT_EQ(test.encoder->Close(nullptr), S_FALSE);
    EXPECT_EQ(test.encoder->Open(), S_OK);             // a closed encoder opens again
    EXPECT_EQ(test.encoder->Close(nullptr), S_OK);
}

struct ConfigCase {
    DWORD rate;
    WORD channels;
    void (*change)(EncoderSettings&);
    int mode;
    int forceMidSide;
    int vbr;
    int tag;
    int lowpass;
};

TEST(EncoderOpen, ChannelModeMidSideVbrTagAndLowpassFollowTheSettings)
{
    const ConfigCase cases[] = {
        {44100, 2, nullptr, JOINT_STEREO, 0, vbr_off, 0, 0},
        {44100, 2, [](EncoderSettings& s) { s.bDownmixToMono = 1; }, MONO, 0, vbr_off, 0, 0},
        {44100, 1, [](EncoderSettings& s) { s.dwChannelMode = STEREO; }, MONO, 0, vbr_off, 0, 0},
        {44100, 2, [](EncoderSettings& s) { s.bForceMidSide = 1; }, JOINT_STEREO, 1, vbr_off, 0, 0},
        {44100, 2, [](EncoderSettings& s) { s.dwChannelMode = STEREO; s.bForceMidSide = 1; }, STEREO, 0, vbr_off, 0, 0},
        {22050, 2, [](EncoderSettings& s) { s.dwChannelMode = DUAL_CHANNEL; s.dwVbrMode = vbr_mtrh; }, DUAL_CHANNEL, 0,
         vbr_mtrh, 0, 0},
        {44100, 1, [](EncoderSettings& s) { s.dwVbrMode = -1; s.bWriteTagFrame = 1; s.bVoiceLowpass = 1; }, MONO, 0,
         vbr_off, 1, 12000},
    };
    for (const ConfigCase& c : cases) {
        CTestEncoder test;
        OpenWith(test, PcmFormat(c.rate, c.channels), c.change);
        lame_global_flags* const lame = CEncoderTestSeam::Lame(test.Object());
        ASSERT_NE(lame, nullptr);
        EXPECT_EQ(lame_get_num_channels(lame), c.channels);
        EXPECT_EQ(lame_get_in_samplerate(lame), static_cast<int>(c.rate));
        EXPECT_EQ(lame_get_out_samplerate(lame), static_cast<int>(c.rate));
        EXPECT_EQ(lame_get_mode(lame), c.mode) << c.rate << " " << c.channels;
        EXPECT_EQ(lame_get_force_ms(lame), c.forceMidSide);
        EXPECT_EQ(lame_get_VBR(lame), c.vbr);
        EXPECT_EQ(lame_get_bWriteVbrTag(lame), c.tag);
        if (c.lowpass != 0) {
            EXPECT_EQ(lame_get_lowpassfreq(lame), c.lowpass);
        }
        EXPECT_EQ(lame_get_quality(lame), 5);
        EXPECT_EQ(test.encoder->Close(nullptr), S_OK);
    }
}

// 32 kbit/s is the floor at 32000 Hz and above; below, low MPEG-2 rates pass unchanged.
TEST(EncoderOpen, BitRateFloorAtMpeg1Rates)
{
    const struct {
        DWORD rate;
        int lowest;
        int highest;
    } cases[] = {{44100, 104, 105}, {32000, 144, 144}, {22050, 26, 27}};
    for (const auto& c : cases) {
        CTestEncoder test;
        OpenWith(test, PcmFormat(c.rate, 1), [](EncoderSettings& s) { s.dwBitrateKbps = 8; });
        const std::vector<BYTE> stream = EncodeAll(test.encoder, Tone(c.rate, 1, c.rate, 300, 0), false);
        const std::vector<int> frames = FrameChain(stream.data(), stream.size());
        ASSERT_GT(frames.size(), 10u) << c.rate;
        for (const int length : frames) {
            EXPECT_GE(length, c.lowest) << c.rate;
            EXPECT_LE(length, c.highest) << c.rate;
        }
    }
}

// --- encoding and the output buffer -----------------------------------------------------------------

TEST(EncoderEncode, ConsumesWholeSampleFramesAndChecksItsArguments)
{
    CTestEncoder test;
    OpenWith(test, PcmFormat(44100, 2));
    const std::vector<short> pcm = Tone(44100, 2, 44100, 440, 660);

    ULONG consumed = 77;
    EXPECT_EQ(test.encoder->Encode(pcm.data(), 3, &consumed), S_OK);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(test.encoder->Encode(pcm.data(), 4099, &consumed), S_OK);
    EXPECT_EQ(consumed, 4096u);

    consumed = 77;
    EXPECT_EQ(test.encoder->Encode(pcm.data(), 0, &consumed), E_INVALIDARG);
    EXPECT_EQ(consumed, 0u);
    consumed = 77;
    EXPECT_EQ(test.encoder->Encode(nullptr, 4, &consumed), E_POINTER);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(test.encoder->Encode(pcm.data(), 4, nullptr), E_POINTER);
}

// Only the bytes that are read must be readable: whole sample frames up to an unreadable page pass,
// the part of a frame that reaches into the page is left; samples in the page itself are refused.
TEST(EncoderEncode, ChecksTheBytesItReads)
{
    CTestEncoder test;
    OpenWith(test, PcmFormat(44100, 2));
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const ULONG page = system.dwPageSize;
    BYTE* const block = static_cast<BYTE*>(::VirtualAlloc(nullptr, 2 * page, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(block + page, page, PAGE_NOACCESS, &old));
    const std::vector<short> tone = Tone(44100, 2, 1000, 440, 660);
    const ULONG bytes = 1000 * 4;
    BYTE* const start = block + page - bytes;   // 1,000 frames end where the unreadable page begins
    std::memcpy(start, tone.data(), bytes);

    ULONG consumed = 77;
    EXPECT_EQ(test.encoder->Encode(reinterpret_cast<const short*>(start), bytes + 3, &consumed), S_OK);
    EXPECT_EQ(consumed, bytes);
    consumed = 77;
    EXPECT_EQ(test.encoder->Encode(reinterpret_cast<const short*>(block + page), 8, &consumed), E_POINTER);
    EXPECT_EQ(consumed, 0u);
    ::VirtualFree(block, 0, MEM_RELEASE);
}

// LAME is asked to write only while fewer than 8,192 bytes are held; a full buffer takes nothing more
// until bytes are taken out, and Flush refuses while the bytes are still held.
TEST(EncoderEncode, FullBufferTakesNothingUntilBytesAreTakenOut)
{
    CTestEncoder test;
    OpenWith(test, PcmFormat(44100, 2), [](EncoderSettings& s) { s.dwBitrateKbps = 320; });
    CEncoder& encoder = test.Object();
    const std::vector<short> pcm = Tone(44100, 2, 44100 * 4, 440, 660);
    const ULONG total = static_cast<ULONG>(pcm.size() * sizeof(short));

    ULONG consumed = 0;
    ASSERT_EQ(test.encoder->Encode(pcm.data(), total, &consumed), S_OK);
    EXPECT_GT(consumed, 0u);
    EXPECT_LT(consumed, total);
    EXPECT_EQ(consumed % 4, 0u);
    EXPECT_GE(CEncoderTestSeam::Fill(encoder), 8192);
    EXPECT_LE(CEncoderTestSeam::Fill(encoder), 16384);
    ULONG again = 1;
    EXPECT_EQ(test.encoder->Encode(pcm.data() + consumed / 2, total - consumed, &again), S_OK);
    EXPECT_EQ(again, 0u);
    EXPECT_EQ(test.encoder->Flush(), E_FAIL);

    BYTE* data = nullptr;
    ULONG aligned = 0;
    ULONG size = 0;
    ASSERT_EQ(test.encoder->GetBlockAligned(0, &data, &aligned, &size), S_OK);
    EXPECT_EQ(size, static_cast<ULONG>(CEncoderTestSeam::Fill(encoder)));
    EXPECT_EQ(test.encoder->Encode(pcm.data() + consumed / 2, total - consumed, &again), S_OK);
    EXPECT_GT(again, 0u);
    EXPECT_EQ(CEncoderTestSeam::Read(encoder), 0);   // the bytes handed out were squeezed out

    // Everything handed out: the bytes held before do not block the flush.
    ASSERT_EQ(test.encoder->GetBlockAligned(0, &data, &aligned, &size), S_OK);
    EXPECT_GE(CEncoderTestSeam::Fill(encoder), 8192);
    EXPECT_EQ(test.encoder->Flush(), S_OK);
}

TEST(EncoderBuffer, GetBlockAlignedRoundsDownBeforeAndUpAfterAFlush)
{
    CTestEncoder test;
    OpenWith(test, PcmFormat(44100, 2));
    CEncoder& encoder = test.Object();
    BYTE* const buffer = CEncoderTestSeam::Output(encoder);
    CEncoderTestSeam::Fill(encoder) = 30;
    CEncoderTestSeam::Read(encoder) = 20;

    BYTE* data = nullptr;
    ULONG aligned = 0;
    ULONG size = 0;
    ASSERT_EQ(test.encoder->GetBlockAligned(4, &data, &aligned, &size), S_OK);
    EXPECT_EQ(data, buffer + 20);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(aligned, 8u);
    EXPECT_EQ(CEncoderTestSeam::Read(encoder), 28);   // two bytes kept back
    ASSERT_EQ(test.encoder->GetBlockAligned(4, &data, &aligned, &size), S_OK);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);

    // A real flush: the rest comes out whole, with the delivered size rounded up.
    const std::vector<short> pcm = Tone(44100, 2, 22050, 440, 660);
    ULONG consumed = 0;
    ASSERT_EQ(test.encoder->Encode(pcm.data(), static_cast<ULONG>(pcm.size() * sizeof(short)), &consumed), S_OK);
    ASSERT_EQ(test.encoder->GetBlockAligned(0, &data, &aligned, &size), S_OK);
    ASSERT_EQ(test.encoder->Flush(), S_OK);
    const ULONG held = static_cast<ULONG>(CEncoderTestSeam::Fill(encoder) - CEncoderTestSeam::Read(encoder));
    ASSERT_GT(held % 1000, 0u);
    ASSERT_EQ(test.encoder->GetBlockAligned(1000, &data, &aligned, &size), S_OK);
    EXPECT_EQ(size, held);
    EXPECT_EQ(aligned, held - held % 1000 + 1000);
    ASSERT_EQ(test.encoder->GetBlockAligned(1000, &data, &aligned, &size), S_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(aligned, 0u);
    EXPECT_EQ(test.encoder->GetBlockAligned(4, nullptr, &aligned, &size), E_POINTER);
}

// Drained frame by frame, the stream is the one handed out as a run of bytes without its first frame:
// nothing is lost at the end after a flush, and nothing is made up.
TEST(EncoderFrames, FrameDrainHandsOutEveryFrameButTheFirst)
{
    for (const DWORD tag : {0, 1})
        for (const WORD channels : {1, 2}) {
            const std::vector<short> pcm = Tone(44100, channels, 44100 * 2 + 123, 440, 660);
            std::vector<BYTE> streams[2];
            for (const bool byFrames : {false, true}) {
                CTestEncoder test;
                EncoderSettings s{};
                ASSERT_EQ(test.settings->GetEncoderSettings(&s), S_OK);
                s.bWriteTagFrame = tag;
                ASSERT_EQ(test.settings->SetEncoderSettings(&s), S_OK);
                const WAVEFORMATEX format = PcmFormat(44100, channels);
                ASSERT_EQ(test.encoder->SetInputType(&format), S_OK);
                ASSERT_EQ(test.encoder->Open(), S_OK);
                streams[byFrames] = EncodeAll(test.encoder, pcm, byFrames);
                EXPECT_EQ(test.encoder->Close(nullptr), S_OK);
            }
            const std::vector<int> all = FrameChain(streams[0].data(), streams[0].size());
            ASSERT_GT(all.size(), 70u);
            ASSERT_EQ(streams[1].size(), streams[0].size() - all[0]) << "tag " << tag << ", " << channels;
            EXPECT_TRUE(std::equal(streams[1].begin(), streams[1].end(), streams[0].begin() + all[0]));
        }
}

// --- faults inside LAME -----------------------------------------------------------------------------

TEST(EncoderGuard, FaultInsideLameComesBackAsAbort)
{
    CTestEncoder test;
    OpenWith(test, PcmFormat(44100, 2), [](EncoderSettings& s) { s.bWriteTagFrame = 1; });
    CEncoder& encoder = test.Object();
    lame_global_flags* const real = CEncoderTestSeam::Lame(encoder);
    // A context pointer into the first, never mapped, page of the address space.
    CEncoderTestSeam::Lame(encoder) = reinterpret_cast<lame_global_flags*>(static_cast<UINT_PTR>(0x40));

    const std::vector<short> pcm = Tone(44100, 2, 4410, 440, 660);
    ULONG consumed = 77;
    EXPECT_EQ(test.encoder->Encode(pcm.data(), static_cast<ULONG>(pcm.size() * sizeof(short)), &consumed), E_ABORT);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(test.encoder->Flush(), E_ABORT);
    COM::TPtr<IStream> stream;
    ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    EXPECT_EQ(test.encoder->Close(stream), E_ABORT);
    EXPECT_EQ(CEncoderTestSeam::Lame(encoder), nullptr);   // closed whatever happened
    EXPECT_EQ(test.encoder->Close(nullptr), S_FALSE);
    lame_close(real);

    // The encoder is still usable.
    ASSERT_EQ(test.encoder->Open(), S_OK);
    EXPECT_EQ(test.encoder->Encode(pcm.data(), static_cast<ULONG>(pcm.size() * sizeof(short)), &consumed), S_OK);
    EXPECT_EQ(consumed, pcm.size() * sizeof(short));
}

// --- trace lines ------------------------------------------------------------------------------------

TEST(EncoderTrace, LinesOfTheEncoderLog)
{
    CEncoderLogReader log;
    {
        CTestEncoder test;
        WAVEFORMATEX bad = PcmFormat(44100, 2, 8);
        EXPECT_EQ(test.encoder->CheckInputType(&bad), VFW_E_UNSUPPORTED_AUDIO);
        const WAVEFORMATEX format = PcmFormat(44100, 2);
        ASSERT_EQ(test.encoder->SetInputType(&format), S_OK);
        ASSERT_EQ(test.encoder->Open(), S_OK);
        const std::vector<short> pcm = Tone(44100, 2, 2000, 440, 660);
        ULONG consumed = 0;
        ASSERT_EQ(test.encoder->Encode(pcm.data(), 4099, &consumed), S_OK);
        BYTE* frame = nullptr;
        ULONG length = 0;
        ASSERT_EQ(test.encoder->GetFrame(&frame, &length), S_OK);
        ASSERT_EQ(test.encoder->Close(nullptr), S_OK);
        EXPECT_EQ(test.encoder->Flush(), E_UNEXPECTED);

        const std::wstring badText = Hex(&bad);
        const std::wstring formatText = Hex(&format);
        const std::vector<std::wstring> expected = {
            L"MPEG2AudioEncoder::CEncoder::CEncoder() begin\x2026",
            L"  MPEG2AudioEncoder::CEncoder::SetDefaultEncoderSettings() begin\x2026",
            L"  MPEG2AudioEncoder::CEncoder::SetDefaultEncoderSettings() done.",
            L"MPEG2AudioEncoder::CEncoder::CEncoder() done.",
            L"MPEG2AudioEncoder::CEncoder::CheckInputType( " + badText + L" ) begin\x2026",
            L"MPEG2AudioEncoder::CEncoder::CheckInputType( " + badText + L" ) done, return 0x8004025C.",
            L"MPEG2AudioEncoder::CEncoder::SetInputType( " + formatText + L" ) begin\x2026",
            L"  MPEG2AudioEncoder::CEncoder::CheckInputType( " + formatText + L" ) begin\x2026",
            L"  MPEG2AudioEncoder::CEncoder::CheckInputType( " + formatText + L" ) done, return 0x00000000.",
            L"MPEG2AudioEncoder::CEncoder::SetInputType( " + formatText + L" ) done, return 0x00000000.",
            L"CEncoder::Open() begin\x2026",
            L"CEncoder::Open() done, return 0x00000000.",
            L"CEncoder::Encode( " + Hex(pcm.data()) + L", 4099, " + Hex(&consumed) + L" ) begin\x2026",
            L"CEncoder::Encode() done, return 0x00000000.",
            L"MPEG2AudioEncoder::CEncoder::GetFrame() begin\x2026",
            L"MPEG2AudioEncoder::CEncoder::GetFrame() done, return 0x00000000.",
            L"MPEG2AudioEncoder::CEncoder::Flush() begin\x2026",
            L"MPEG2AudioEncoder::CEncoder::Flush() done, return 0x8000FFFF.",
        };
        // The two creation steps of the test fixture (the object, then the settings interface) are not
        // traced; everything after the constructor is in call order.
        const std::vector<std::wstring> lines = log.NewLines();
        EXPECT_EQ(lines, expected);
    }
    const std::vector<std::wstring> lines = log.NewLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], L"MPEG2AudioEncoder::CEncoder::~CEncoder() begin\x2026");
    EXPECT_EQ(lines.back(), L"MPEG2AudioEncoder::CEncoder::~CEncoder() done.");
}

} // namespace
