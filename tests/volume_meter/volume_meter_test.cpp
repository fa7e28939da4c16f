// The volume meter inside the platform's filter graph: levels of samples pushed by a test source
// (16-bit, 8-bit, interleaved stereo, short samples, 24-bit), the level callback and its result
// reaching the upstream pin, the filter's states and seeking; and a noise stream from the PCM test
// source whose levels are written out for an independent check on the Linux side.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "filters/volume_meter/volume_meter.h"
#include "graph/filter_graph.h"
#include "pcm_settings.h"
#include "platform/oversized_sample.h"
#include "platform/trace_reader/trace_reader.h"
#include "pcm_signal.h"
#include "pcm_source.h"
#include "push_source.h"
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"
#include "stdax/test_filter.h"

#include <gtest/gtest.h>

#include <control.h>

using StdaxTest::CComApartment;
using StdaxTest::CLiveObjectCheck;

namespace {

constexpr DWORD EventTimeout = 30000;

// What the level callback was given, and what it answers.
Synchronization::CCriticalSection g_callbackLock;
std::vector<double> g_levels;
HRESULT g_callbackResult = S_OK;

HRESULT RecordLevel(double level)
{
    Synchronization::CAutoLock lock(&g_callbackLock);
    g_levels.push_back(level);
    return g_callbackResult;
}

HRESULT OtherCallback(double)
{
    return S_OK;
}

std::vector<double> Levels()
{
    Synchronization::CAutoLock lock(&g_callbackLock);
    return g_levels;
}

std::vector<BYTE> Shorts(std::initializer_list<int> values)
{
    std::vector<BYTE> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<BYTE>(v & 0xFF));
        bytes.push_back(static_cast<BYTE>((v >> 8) & 0xFF));
    }
    return bytes;
}

class VolumeMeterGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        {
            Synchronization::CAutoLock lock(&g_callbackLock);
            g_levels.clear();
            g_callbackResult = S_OK;
        }
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                           reinterpret_cast<void**>(&m_graph)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_control)));
        ASSERT_EQ(S_OK, VolumeMeter::CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&m_meter)));
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_meter, L"VolumeMeter"));
        ASSERT_EQ(S_OK, m_meter.QueryInterface(VolumeMeter::IID_IFilterProperties,
                                               reinterpret_cast<void**>(&m_properties)));
        ASSERT_EQ(S_OK, m_meter->FindPin(L"Input", &m_input));
        ASSERT_EQ(S_OK, m_properties->SetCallback(&RecordLevel));
    }
    void TearDown() override
    {
        if (m_control.IsValid())
            m_control->Stop();
        if (m_push != nullptr)
            m_push->Interface()->Release();
        if (m_pcm != nullptr)
            m_pcm->Interface()->Release();
        m_input.Release();
        m_properties.Release();
        m_meter.Release();
        m_control.Release();
        m_graph.Release();
        EXPECT_EQ(0, m_live.Leaked());
    }

    // A push source of this type connected to the meter, and the graph paused.
    void PushAndPause(const AM_MEDIA_TYPE& type)
    {
        m_push = PushSource::CFilter::Create(type);
        ASSERT_NE(nullptr, m_push);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_push->Interface(), L"Push"));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_push->OutputPin(), m_input, nullptr));
        ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    }
    void PushPcmAndPause(WORD channels, WORD bits)
    {
        AM_MEDIA_TYPE type;
        PushSource::MakePcmType(&type, channels, 44100, bits);
        PushAndPause(type);
        stdax::FreeMediaTypeContents(&type);
    }
    double Level()
    {
        double level = -1.0;
        EXPECT_EQ(S_OK, m_properties->GetLevel(&level));
        return level;
    }

    template <class Condition>
    static bool WaitUntil(Condition condition)
    {
        const DWORD begin = ::GetTickCount();
        while (!condition() && ::GetTickCount() - begin < EventTimeout)
            ::Sleep(5);
        return condition();
    }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    COM::TPtr<IFilterGraph> m_graph;
    COM::TPtr<IMediaControl> m_control;
    COM::TPtr<IBaseFilter> m_meter;
    COM::TPtr<VolumeMeter::IFilterProperties> m_properties;
    COM::TPtr<IPin> m_input;
    PushSource::CFilter* m_push = nullptr;
    PcmSource::CFilter* m_pcm = nullptr;
};

} // namespace

TEST_F(VolumeMeterGraphTest, SixteenBitLevelsArePeakToPeakOverFullScale)
{
    PushPcmAndPause(1, 16);
    EXPECT_EQ(S_OK, m_push->Deliver(Shorts({0, 0, 0, 0})));
    EXPECT_EQ(S_OK, m_push->Deliver(Shorts({0, -32768, 12, 32767, 0})));
    EXPECT_EQ(S_OK, m_push->Deliver(Shorts({30000, -100, 200})));
    // A constant non-zero signal has no swing.
    EXPECT_EQ(S_OK, m_push->Deliver(Shorts({-5000, -5000})));
    const std::vector<double> levels = Levels();
    ASSERT_EQ(4u, levels.size());
    EXPECT_EQ(0.0, levels[0]);
    EXPECT_EQ(1.0, levels[1]);
    EXPECT_DOUBLE_EQ(30100.0 / 65535.0, levels[2]);
    EXPECT_NEAR(0.4593, levels[2], 0.0001);
    EXPECT_EQ(0.0, levels[3]);
    EXPECT_EQ(0.0, Level());
}

TEST_F(VolumeMeterGraphTest, GapsFromTimeStampsAndDiscontinuitiesCountedPerRunAndTraced)
{
    const auto meterLines = [](size_t from) {
        std::vector<std::wstring> lines;
        const std::vector<std::wstring> all = TestTrace::ReadLog(L"Tessaro.log").Messages();
        for (size_t i = from; i < all.size(); ++i) {
            if (all[i].rfind(L"VolumeMeter: ", 0) == 0)
                lines.push_back(all[i]);
        }
        return lines;
    };
    const size_t from = TestTrace::ReadLog(L"Tessaro.log").Messages().size();
    PushPcmAndPause(1, 16);
    const std::vector<BYTE> audio = Shorts({1, 2, 3, 4});
    const auto timed = [&](REFERENCE_TIME start, REFERENCE_TIME stop, bool discontinuity) {
        PushSource::SampleStamp stamp;
        stamp.start = &start;
        stamp.stop = &stop;
        stamp.discontinuity = discontinuity;
        return m_push->Deliver(audio, stamp);
    };
    PushSource::SampleStamp untimed;
    PushSource::SampleStamp untimedFlagged;
    untimedFlagged.discontinuity = true;
    // 44100 Hz: the tolerance is four frames, 907 units of 100 ns.
    EXPECT_EQ(S_OK, timed(0, 400000, true));              // the first: never a gap
    EXPECT_EQ(S_OK, timed(400907, 800000, false));        // within the tolerance
    EXPECT_EQ(S_OK, timed(800908, 1200000, false));       // gap 1: just beyond it
    EXPECT_EQ(S_OK, timed(1600000, 2000000, false));      // gap 2: 40 ms
    EXPECT_EQ(S_OK, timed(2000000, 2400000, true));       // gap 3: flagged, nothing missing
    EXPECT_EQ(S_OK, m_push->Deliver(audio, untimed));         // noted, no gap
    EXPECT_EQ(S_OK, m_push->Deliver(audio, untimedFlagged));  // gap 4, length unknown
    EXPECT_EQ(S_OK, m_push->Deliver(audio, untimed));         // noted once only
    EXPECT_EQ(S_OK, timed(9000000, 9400000, false));      // no end to compare with: no gap
    ULONG gaps = 0;
    REFERENCE_TIME missing = 0;
    EXPECT_EQ(S_FALSE, m_properties->GetDroppedAudio(&gaps, &missing));
    EXPECT_EQ(4u, gaps);
    EXPECT_EQ(908 + 400000, missing);
    const std::vector<std::wstring> expected = {
        L"VolumeMeter: gap 1 in the captured audio at 0.080 s, 0.1 ms lost.",
        L"VolumeMeter: gap 2 in the captured audio at 0.120 s, 40.0 ms lost.",
        L"VolumeMeter: gap 3 in the captured audio at 0.200 s, 0.0 ms lost.",
        L"VolumeMeter: the capture device sets no time stamps; only its discontinuities count as gaps.",
        L"VolumeMeter: gap 4 in the captured audio (a discontinuity), length unknown."};
    EXPECT_EQ(expected, meterLines(from));

    // Resumed (Paused -> Running): what comes after the resume starts afresh; what comes while paused
    // (the audio up to the pause) follows on as before.
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    EXPECT_EQ(S_OK, timed(9400000, 9800000, false));
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    EXPECT_EQ(S_OK, timed(20000000, 20400000, true));
    EXPECT_EQ(S_FALSE, m_properties->GetDroppedAudio(&gaps, &missing));
    EXPECT_EQ(4u, gaps);
    // A new run from Stopped counts anew.
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    EXPECT_EQ(S_OK, m_properties->GetDroppedAudio(&gaps, &missing));
    EXPECT_EQ(0u, gaps);
    EXPECT_EQ(0, missing);
    EXPECT_EQ(E_POINTER, m_properties->GetDroppedAudio(&gaps, nullptr));
}

TEST_F(VolumeMeterGraphTest, EightBitSamplesAreUnsigned)
{
    PushPcmAndPause(1, 8);
    EXPECT_EQ(S_OK, m_push->Deliver(std::vector<BYTE>(100, 128)));
    EXPECT_EQ(S_OK, m_push->Deliver(std::vector<BYTE>{128, 0, 200, 255, 128}));
    EXPECT_EQ(S_OK, m_push->Deliver(std::vector<BYTE>{100, 164}));
    const std::vector<double> levels = Levels();
    ASSERT_EQ(3u, levels.size());
    EXPECT_EQ(0.0, levels[0]);
    EXPECT_EQ(1.0, levels[1]);
    EXPECT_DOUBLE_EQ(64.0 / 255.0, levels[2]);
}

TEST_F(VolumeMeterGraphTest, InterleavedStereoIsOneStreamAndShortSamplesAreNotMeasured)
{
    PushPcmAndPause(2, 16);
    // Left silent, right swinging over the full range.
    EXPECT_EQ(S_OK, m_push->Deliver(Shorts({0, 32767, 0, -32768, 0, 0})));
    EXPECT_EQ(1.0, Level());
    // Nothing valid, or less than one sample: S_OK, no callback, the level stays.
    EXPECT_EQ(S_OK, m_push->Deliver(nullptr, 0));
    const BYTE half = 0x7F;
    EXPECT_EQ(S_OK, m_push->Deliver(&half, 1));
    // Trailing odd bytes are not part of a sample: 3 bytes hold one sample (level 0).
    const BYTE odd[3] = {0x00, 0x10, 0xFF};
    EXPECT_EQ(S_OK, m_push->Deliver(odd, 3));
    const std::vector<double> levels = Levels();
    ASSERT_EQ(2u, levels.size());
    EXPECT_EQ(1.0, levels[0]);
    EXPECT_EQ(0.0, levels[1]);
}

TEST_F(VolumeMeterGraphTest, ASampleClaimingMoreBytesThanItsBufferIsRefusedUnmeasured)
{
    PushPcmAndPause(1, 16);
    COM::TPtr<IMemInputPin> transport;
    ASSERT_EQ(S_OK, m_input.QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&transport)));
    COversizedSample* const sample = COversizedSample::Create(64, 64 + 8192);
    EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, transport->Receive(sample));
    sample->Release();
    EXPECT_TRUE(Levels().empty());
}

TEST_F(VolumeMeterGraphTest, TwentyFourBitIsAcceptedButNotMeasured)
{
    PushPcmAndPause(1, 24);
    const std::vector<BYTE> loud = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80};
    EXPECT_EQ(S_OK, m_push->Deliver(loud));
    EXPECT_EQ(S_OK, m_push->Deliver(loud));
    const std::vector<double> levels = Levels();
    ASSERT_EQ(2u, levels.size());
    EXPECT_EQ(0.0, levels[0]);
    EXPECT_EQ(0.0, levels[1]);
}

TEST_F(VolumeMeterGraphTest, ACallbackFailureReachesTheUpstreamPinAfterTheLevelIsStored)
{
    PushPcmAndPause(1, 16);
    const HRESULT refused = static_cast<HRESULT>(0x80041234);
    {
        Synchronization::CAutoLock lock(&g_callbackLock);
        g_callbackResult = refused;
    }
    EXPECT_EQ(refused, m_push->Deliver(Shorts({-16384, 16384})));
    EXPECT_DOUBLE_EQ(32768.0 / 65535.0, Level());
    ASSERT_EQ(1u, Levels().size());

    // A refused callback keeps the old one; another one replaces it.
    EXPECT_EQ(E_POINTER, m_properties->SetCallback(nullptr));
    EXPECT_EQ(refused, m_push->Deliver(Shorts({0})));
    EXPECT_EQ(2u, Levels().size());
    EXPECT_EQ(S_OK, m_properties->SetCallback(&OtherCallback));
    EXPECT_EQ(S_OK, m_push->Deliver(Shorts({0, 100})));
    EXPECT_EQ(2u, Levels().size());
    EXPECT_EQ(E_POINTER, m_properties->GetLevel(nullptr));
}

TEST_F(VolumeMeterGraphTest, StatesLevelResetAndPausingARunningFilter)
{
    COM::TPtr<IMediaSeeking> seeking;
    EXPECT_EQ(E_NOTIMPL, m_meter.QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
    EXPECT_EQ(S_FALSE, m_properties->IsActive());

    PushPcmAndPause(1, 16);
    // Connected: the filter hands out its pin's pass-through.
    ASSERT_EQ(S_OK, m_meter.QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
    COM::TPtr<IMediaSeeking> pinSeeking;
    ASSERT_EQ(S_OK, m_input.QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&pinSeeking)));
    EXPECT_EQ(pinSeeking.p, seeking.p);
    // The push source has no seeking of its own.
    LONGLONG duration = 0;
    EXPECT_EQ(E_NOTIMPL, seeking->GetDuration(&duration));

    EXPECT_EQ(S_OK, m_properties->IsActive());
    EXPECT_EQ(S_OK, m_push->Deliver(Shorts({-32768, 32767})));
    EXPECT_EQ(1.0, Level());
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    EXPECT_EQ(S_OK, m_properties->IsActive());
    // Running -> Paused keeps the level and answers S_FALSE.
    EXPECT_EQ(S_FALSE, m_meter->Pause());
    EXPECT_EQ(S_OK, m_properties->IsActive());
    EXPECT_EQ(1.0, Level());
    EXPECT_EQ(S_OK, m_meter->Pause());
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    EXPECT_EQ(S_FALSE, m_properties->IsActive());
    EXPECT_EQ(0.0, Level());
    // Stopped: samples are refused and not measured.
    EXPECT_EQ(VFW_E_NOT_COMMITTED, m_push->Deliver(Shorts({1, 2})));
    EXPECT_EQ(1u, Levels().size());
}

TEST_F(VolumeMeterGraphTest, AnUnconnectedMeterPausesAndStopsQuietly)
{
    EXPECT_EQ(S_OK, m_meter->Pause());
    EXPECT_EQ(S_OK, m_properties->IsActive());
    EXPECT_EQ(S_OK, m_meter->Stop());
    EXPECT_EQ(S_FALSE, m_properties->IsActive());
}

TEST_F(VolumeMeterGraphTest, TheGraphWrapperAddsTheMeterThroughItsCreationFunction)
{
    DirectShow::CFilterGraph graph;
    ASSERT_EQ(S_OK, graph.Create());
    COM::TPtr<IBaseFilter> meter;
    ASSERT_EQ(S_OK, graph.AddFilter(&VolumeMeter::CreateInstance, L"VolumeMeter", &meter));
    COM::TPtr<IPin> input;
    EXPECT_EQ(S_OK, DirectShow::CFilterGraph::FindPinByDirection(meter, PINDIR_INPUT, &input));
    CLSID id = GUID_NULL;
    EXPECT_EQ(S_OK, meter->GetClassID(&id));
    EXPECT_TRUE(id == VolumeMeter::CLSID_VolumeMeter);
    input.Release();
    meter.Release();
    EXPECT_EQ(S_OK, graph.Free());
}

// Noise from the PCM test source through the graph: one level per 40 ms sample, written out with the
// stream's bytes for the check on the Linux side.
TEST_F(VolumeMeterGraphTest, NoiseThroughTheGraphGivesOneLevelPerBuffer)
{
    for (WORD bits : {WORD(16), WORD(8)}) {
        SCOPED_TRACE(bits);
        PcmSource::Settings settings;
        settings.waveform = PcmSource::Waveform::Noise;
        settings.seed = 77;
        settings.amplitude = 0.6;
        settings.channels = 2;
        settings.bitsPerSample = bits;
        settings.sampleRate = 22050;
        settings.length = 10000000;
        {
            Synchronization::CAutoLock lock(&g_callbackLock);
            g_levels.clear();
        }
        HRESULT hr = E_FAIL;
        m_pcm = PcmSource::CFilter::Create(settings, &hr);
        ASSERT_EQ(S_OK, hr);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_pcm->Interface(), L"Source"));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_pcm->Output()->PinInterface(), m_input, nullptr));
        ASSERT_TRUE(SUCCEEDED(m_control->Run()));
        // The meter counts as no renderer to the platform's graph (it has no IAMFilterMiscFlags), so
        // the graph passes on no completion: the source's end of stream marks the end of the run.
        PcmSource::COutputPin* const output = m_pcm->Output();
        ASSERT_TRUE(WaitUntil([output] { return output->EndOfStreamDelivered(); }));
        ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
        EXPECT_EQ(S_OK, output->StreamResult());
        EXPECT_EQ(0.0, Level());

        const ULONG frames = PcmSource::FramesPerBuffer(settings);
        const LONGLONG total = PcmSource::TotalFrames(settings);
        const std::vector<double> levels = Levels();
        EXPECT_EQ(static_cast<size_t>((total + frames - 1) / frames), levels.size());
        for (double level : levels) {
            EXPECT_GT(level, 0.5);
            EXPECT_LE(level, 1.0);
        }

        const std::string stem = bits == 16 ? "noise16" : "noise8";
        const std::vector<BYTE> bytes = PcmSource::CSignal::Generate(settings, total);
        std::ofstream raw(stem + ".raw", std::ios::binary);
        raw.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        std::FILE* out = std::fopen((stem + ".levels").c_str(), "w");
        ASSERT_NE(nullptr, out);
        std::fprintf(out, "%u %u %lu\n", bits, settings.channels, frames);
        for (double level : levels)
            std::fprintf(out, "%.17g\n", level);
        std::fclose(out);

        m_input->Disconnect();
        m_graph->RemoveFilter(m_pcm->Interface());
        m_pcm->Interface()->Release();
        m_pcm = nullptr;
    }
}
