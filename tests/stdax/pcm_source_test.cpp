// The PCM test source inside the platform's filter graph: its bytes through the platform's File
// Writer, its samples and time stamps at a recording renderer, a live source that waits for the
// graph clock, streams cut short or aborted from the delivery hook, an endless stream into the
// platform's null renderer stopped and started again, and a pass-through filter on both of the
// framework's base pins between the source and a rendering sink. Every run ends with EC_COMPLETE (or
// EC_ERRORABORT) from the graph's event queue and with no framework object left behind.
#include "pcm_source.h"
#include "pcm_signal.h"
#include "pass_through_filter.h"
#include "platform/render_sink/render_sink.h"
#include "probe_filter.h"
#include "stdax/com/ptr.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <control.h>
#include <evcode.h>
#include <uuids.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace StdaxTest;

namespace {

// {C1F400A4-3F08-11D3-9F0B-006008039E37}
const CLSID CLSID_NullRendererFilter = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

// Generous guard against a hang; no result depends on it.
constexpr DWORD EventTimeout = 30000;

COM::TPtr<IPin> FirstPin(IBaseFilter* filter)
{
    COM::TPtr<IEnumPins> pins;
    COM::TPtr<IPin> pin;
    if (SUCCEEDED(filter->EnumPins(&pins)))
        pins->Next(1, &pin, nullptr);
    return pin;
}

class PcmSourceGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                           reinterpret_cast<void**>(&m_graph)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_control)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&m_events)));
    }
    void TearDown() override
    {
        if (m_control.IsValid())
            m_control->Stop();
        if (m_source != nullptr)
            m_source->Interface()->Release();
        if (m_probe != nullptr)
            m_probe->Interface()->Release();
        m_events.Release();
        m_control.Release();
        m_graph.Release();
        EXPECT_EQ(0, m_live.Leaked());
    }

    // Adds a source with these settings and connects it to the sink's first pin.
    void Connect(const PcmSource::Settings& settings, IBaseFilter* sink)
    {
        HRESULT hr = E_FAIL;
        m_source = PcmSource::CFilter::Create(settings, &hr);
        ASSERT_EQ(S_OK, hr);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_source->Interface(), L"Source"));
        ASSERT_EQ(S_OK, m_graph->AddFilter(sink, L"Sink"));
        COM::TPtr<IPin> in = FirstPin(sink);
        ASSERT_TRUE(in.IsValid());
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_source->Output()->PinInterface(), in, nullptr));
    }
    void ConnectToProbe(const PcmSource::Settings& settings)
    {
        m_probe = CProbeFilter::CreateSink();
        ASSERT_NE(nullptr, m_probe);
        Connect(settings, m_probe->Interface());
    }

    // The next event with this code (others are passed over); false when none came.
    bool WaitForEvent(long wanted, LONG_PTR* param1 = nullptr)
    {
        const DWORD begin = ::GetTickCount();
        while (::GetTickCount() - begin < EventTimeout) {
            long code = 0;
            LONG_PTR p1 = 0, p2 = 0;
            if (m_events->GetEvent(&code, &p1, &p2, 100) != S_OK)
                continue;
            m_events->FreeEventParams(code, p1, p2);
            if (code == wanted) {
                if (param1 != nullptr)
                    *param1 = p1;
                return true;
            }
        }
        return false;
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
    COM::TPtr<IMediaEvent> m_events;
    PcmSource::CFilter* m_source = nullptr;
    CProbeFilter* m_probe = nullptr;
};

} // namespace

TEST_F(PcmSourceGraphTest, AStereoToneLandsInTheFileWriterByteForByte)
{
    PcmSource::Settings settings;
    settings.streamOutput = true;
    settings.channels = 2;
    settings.sampleRate = 22050;
    settings.frequency = 441.0;
    settings.length = 5000000;
    WCHAR path[MAX_PATH];
    ASSERT_NE(0u, ::GetFullPathNameW(L"pcm_source_tone.raw", MAX_PATH, path, nullptr));
    ::DeleteFileW(path);

    COM::TPtr<IBaseFilter> writer;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&writer)));
    COM::TPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, writer.QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink)));
    ASSERT_EQ(S_OK, sink->SetFileName(path, nullptr));
    sink.Release();
    Connect(settings, writer);
    writer.Release();

    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    // 11025 frames in 882-frame buffers: twelve full ones and one of 441.
    EXPECT_EQ(13u, m_source->Output()->DeliveredSamples());
    EXPECT_EQ(11025, m_source->Output()->DeliveredFrames());
    EXPECT_TRUE(m_source->Output()->EndOfStreamDelivered());
    EXPECT_EQ(S_OK, m_source->Output()->StreamResult());

    char narrow[MAX_PATH];
    ::WideCharToMultiByte(CP_ACP, 0, path, -1, narrow, MAX_PATH, nullptr, nullptr);
    std::ifstream file(narrow, std::ios::binary);
    const std::vector<BYTE> written{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::vector<BYTE> expected = PcmSource::CSignal::Generate(settings, 11025);
    ASSERT_EQ(expected.size(), written.size());
    EXPECT_TRUE(expected == written);

    // It is a tone of that frequency: 441 Hz gives 441 rising zero crossings in 1 s, so 220 in 0.5 s
    // (give or take the one the cut falls on), the same on both channels.
    int rising = 0;
    for (size_t i = 4; i + 3 < written.size(); i += 4) {
        const auto left = static_cast<SHORT>(written[i] | (written[i + 1] << 8));
        const auto before = static_cast<SHORT>(written[i - 4] | (written[i - 3] << 8));
        const auto right = static_cast<SHORT>(written[i + 2] | (written[i + 3] << 8));
        EXPECT_EQ(left, right);
        if (before < 0 && left >= 0)
            ++rising;
    }
    EXPECT_NEAR(220, rising, 1);
}

TEST_F(PcmSourceGraphTest, NoiseReachesARecordingRendererInContiguousTimeStampedSamples)
{
    PcmSource::Settings settings;
    settings.waveform = PcmSource::Waveform::Noise;
    settings.seed = 1234;
    settings.sampleRate = 8000;
    settings.bitsPerSample = 8;
    settings.length = 3000000;
    ConnectToProbe(settings);
    CProbeInputPin* const in = m_probe->Input();
    EXPECT_EQ(8000u, SampleRateOf(in->ConnectionType()));
    ALLOCATOR_PROPERTIES agreed = {};
    ASSERT_TRUE(in->m_notified.IsValid());
    ASSERT_EQ(S_OK, in->m_notified->GetProperties(&agreed));
    EXPECT_EQ(320, agreed.cbBuffer) << "40 ms of 8-bit mono at 8000 Hz";
    EXPECT_EQ(4, agreed.cBuffers);

    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));

    // 2400 frames: seven samples of 320 and one of 160, end to end from 0 to 0.3 s.
    ASSERT_EQ(8u, in->m_samples.size());
    REFERENCE_TIME expectedStart = 0;
    for (size_t i = 0; i < in->m_samples.size(); ++i) {
        const CReceived& sample = in->m_samples[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(S_OK, sample.timeResult);
        EXPECT_EQ(expectedStart, sample.start);
        EXPECT_EQ(i < 7 ? 320 : 160, sample.length);
        EXPECT_EQ(sample.start + sample.length * 1250, sample.stop) << "125 us a frame";
        EXPECT_EQ(static_cast<LONGLONG>(i) * 320, sample.mediaStart);
        EXPECT_EQ(sample.mediaStart + sample.length, sample.mediaStop);
        EXPECT_EQ(i == 0, sample.discontinuity);
        EXPECT_TRUE(sample.syncPoint);
        expectedStart = sample.stop;
    }
    EXPECT_EQ(3000000, expectedStart);
    EXPECT_EQ(1, in->m_endOfStream);
    EXPECT_TRUE(PcmSource::CSignal::Generate(settings, 2400) == in->m_bytes);
}

TEST_F(PcmSourceGraphTest, ALiveSourceDeliversOnlyWhileRunningAndNeverAheadOfTheClock)
{
    PcmSource::Settings settings;
    settings.realTime = true;
    settings.sampleRate = 16000;
    settings.length = 4000000;
    ConnectToProbe(settings);
    CProbeInputPin* const in = m_probe->Input();

    ASSERT_TRUE(SUCCEEDED(m_control->Pause()));
    ::Sleep(200);
    EXPECT_EQ(0u, m_source->Output()->DeliveredSamples()) << "nothing is recorded while paused";

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(SUCCEEDED(m_control->Run()));
        ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
        ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
        ASSERT_EQ(10u * (run + 1), in->m_samples.size());
    }
    // Each run starts over at 0 with a discontinuity; each sample arrives once its last frame
    // lies in the past of the graph clock.
    for (size_t i = 0; i < in->m_samples.size(); ++i) {
        const CReceived& sample = in->m_samples[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i % 10) * 400000, sample.start);
        EXPECT_EQ(i % 10 == 0, sample.discontinuity);
        ASSERT_TRUE(SUCCEEDED(sample.arrivalResult));
        EXPECT_GE(sample.arrival, sample.stop);
    }
}

TEST_F(PcmSourceGraphTest, TheDeliveryHookEndsTheStreamEarlyOrAbortsIt)
{
    COM::TPtr<IBaseFilter> renderer;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_NullRendererFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&renderer)));
    PcmSource::Settings settings;
    settings.length = -1;
    std::vector<ULONG> offered;
    HRESULT verdict = S_FALSE;
    settings.beforeDelivery = [&](ULONG index, IMediaSample*) {
        offered.push_back(index);
        return index == 3 ? verdict : S_OK;
    };
    Connect(settings, renderer);
    renderer.Release();

    // S_FALSE at the fourth sample: three delivered, then end of stream, which the renderer
    // reports as completion.
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(WaitForEvent(EC_COMPLETE));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    EXPECT_EQ(3u, m_source->Output()->DeliveredSamples());
    EXPECT_TRUE(m_source->Output()->EndOfStreamDelivered());
    EXPECT_EQ((std::vector<ULONG>{0, 1, 2, 3}), offered);

    // A failure there: no end of stream, the graph hears EC_ERRORABORT with the failure.
    verdict = E_ACCESSDENIED;
    offered.clear();
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    LONG_PTR reason = 0;
    ASSERT_TRUE(WaitForEvent(EC_ERRORABORT, &reason));
    EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(reason));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));
    EXPECT_EQ(E_ACCESSDENIED, m_source->Output()->StreamResult());
    EXPECT_FALSE(m_source->Output()->EndOfStreamDelivered());
    EXPECT_EQ(3u, m_source->Output()->DeliveredSamples());
}

TEST_F(PcmSourceGraphTest, AnEndlessStreamIntoTheNullRendererStopsAndStartsAgain)
{
    COM::TPtr<IBaseFilter> renderer;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_NullRendererFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&renderer)));
    PcmSource::Settings settings;
    settings.length = -1;
    settings.bufferMilliseconds = 10;
    Connect(settings, renderer);
    renderer.Release();
    PcmSource::COutputPin* const out = m_source->Output();

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(SUCCEEDED(m_control->Run()));
        EXPECT_TRUE(WaitUntil([&] { return out->DeliveredSamples() >= 5; }));
        // The renderer holds the thread until each sample's time: stopping must free it.
        ASSERT_EQ(S_OK, m_control->Stop());
        const ULONG delivered = out->DeliveredSamples();
        ::Sleep(50);
        EXPECT_EQ(delivered, out->DeliveredSamples()) << "the streaming thread is gone";
        EXPECT_FALSE(out->EndOfStreamDelivered());
    }
}

TEST_F(PcmSourceGraphTest, APassThroughFilterOnBothBasePinsCarriesTheStreamToARenderingSink)
{
    PcmSource::Settings settings;
    settings.length = 2000000;
    HRESULT hr = E_FAIL;
    m_source = PcmSource::CFilter::Create(settings, &hr);
    ASSERT_EQ(S_OK, hr);
    CPassThroughFilter* const middle = CPassThroughFilter::Create();
    ASSERT_NE(nullptr, middle);
    RenderSink::CFilter* const sink = RenderSink::CFilter::Create(&hr);
    ASSERT_NE(nullptr, sink);
    EXPECT_EQ(S_OK, m_graph->AddFilter(m_source->Interface(), L"Source"));
    EXPECT_EQ(S_OK, m_graph->AddFilter(middle->Interface(), L"Pass"));
    EXPECT_EQ(S_OK, m_graph->AddFilter(sink->Interface(), L"Sink"));
    // The graph holds them now.
    middle->Interface()->Release();
    sink->Interface()->Release();

    // The output has no type to offer before its input is connected.
    EXPECT_TRUE(FAILED(m_graph->ConnectDirect(middle->Output()->PinInterface(), sink->Input()->PinInterface(), nullptr)));
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_source->Output()->PinInterface(), middle->Input()->PinInterface(), nullptr));
    ASSERT_EQ(S_OK, m_graph->ConnectDirect(middle->Output()->PinInterface(), sink->Input()->PinInterface(), nullptr));
    EXPECT_EQ(44100u, SampleRateOf(middle->Output()->ConnectionType()));
    EXPECT_NE(middle->Input()->Allocator(), middle->Output()->Allocator()) << "each connection has its own";

    // Neither the source nor the pass-through can seek, so the graph does not count the sink among
    // its renderers and hears no completion from it: the end of stream is awaited at the sink.
    ASSERT_TRUE(SUCCEEDED(m_control->Run()));
    ASSERT_TRUE(sink->WaitUntil([](const RenderSink::CRecord& r) { return r.endOfStream > 0; }, EventTimeout));
    ASSERT_TRUE(SUCCEEDED(m_control->Stop()));

    // 8820 frames of 16-bit mono: five samples of 40 ms, 0 to 0.2 s, the first a discontinuity.
    const RenderSink::CRecord record = sink->Record();
    ASSERT_EQ(5u, record.samples.size());
    EXPECT_EQ(17640, record.flowingBytes);
    EXPECT_EQ(1, record.endOfStream);
    for (size_t i = 0; i < record.samples.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 400000, record.samples[i].start);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i + 1) * 400000, record.samples[i].stop);
        EXPECT_EQ(i == 0, (record.samples[i].flags & AM_SAMPLE_DATADISCONTINUITY) != 0);
        EXPECT_NE(0u, record.samples[i].flags & AM_SAMPLE_SPLICEPOINT);
    }

    // Flushes and segments pass through to the sink.
    IPin* const in = middle->Input()->PinInterface();
    EXPECT_TRUE(SUCCEEDED(in->BeginFlush()));
    EXPECT_TRUE(SUCCEEDED(in->EndFlush()));
    EXPECT_TRUE(SUCCEEDED(in->NewSegment(0, 2000000, 1.0)));
    EXPECT_EQ(1, sink->Record().beginFlush);
    EXPECT_EQ(1, sink->Record().endFlush);
    EXPECT_EQ(2000000, sink->Input()->SegmentStop());
}
