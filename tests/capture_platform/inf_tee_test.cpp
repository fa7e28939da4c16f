// The infinite tee in Wine's graph: its pins and their names, the outputs' media type, and every
// sample, end of stream, flush and new segment reaching every connected output.
#include "collecting_sink.h"
#include "test_support.h"

#include "pcm_signal.h"
#include "pcm_source.h"

#include <gtest/gtest.h>

#include <uuids.h>

#include <cstring>

using namespace CapturePlatformTest;

namespace {

class InfTee : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_settings.sampleRate = 8000;
        m_settings.length = 5000000; // half a second
        m_settings.bufferMilliseconds = 40;
        m_graph = CreateGraph();
        ASSERT_TRUE(m_graph.IsValid());
        m_tee = AddByClass(m_graph, CLSID_InfTee, L"Tee");
        ASSERT_TRUE(m_tee.IsValid());
        HRESULT hr = S_OK;
        m_source = PcmSource::CFilter::Create(m_settings, &hr);
        ASSERT_NE(nullptr, m_source);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_source->Interface(), L"Source"));
    }

    void TearDown() override
    {
        COM::TPtr<IMediaControl> control;
        if (m_graph.IsValid() && SUCCEEDED(m_graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control))))
            control->Stop();
        for (CCollectingSink* sink : m_sinks)
            sink->Interface()->Release();
        if (m_source != nullptr)
            m_source->Interface()->Release();
    }

    CCollectingSink* AddSink()
    {
        CCollectingSink* const sink = CCollectingSink::Create();
        EXPECT_NE(nullptr, sink);
        if (sink == nullptr)
            return nullptr;
        m_sinks.push_back(sink);
        EXPECT_EQ(S_OK, m_graph->AddFilter(sink->Interface(), nullptr));
        return sink;
    }

    HRESULT ConnectSource() { return ConnectDirect(m_graph, m_source->Output()->PinInterface(), FirstPin(m_tee, PINDIR_INPUT)); }

    CComThread m_com;
    PcmSource::Settings m_settings;
    COM::TPtr<IGraphBuilder> m_graph;
    COM::TPtr<IBaseFilter> m_tee;
    PcmSource::CFilter* m_source = nullptr;
    std::vector<CCollectingSink*> m_sinks;
};

TEST_F(InfTee, AddsANamedOutputWhenTheLastOneIsConnected)
{
    EXPECT_EQ((std::vector<std::wstring>{L"Input", L"Output1"}), PinNames(m_tee));
    CCollectingSink* const first = AddSink();
    CCollectingSink* const second = AddSink();
    ASSERT_NE(nullptr, second);
    // Without an input there is no type to offer.
    EXPECT_TRUE(FAILED(ConnectDirect(m_graph, PinNamed(m_tee, L"Output1"), first->InputPin())));
    EXPECT_EQ((std::vector<std::wstring>{L"Input", L"Output1"}), PinNames(m_tee));

    ASSERT_EQ(S_OK, ConnectSource());
    ASSERT_EQ(S_OK, ConnectDirect(m_graph, PinNamed(m_tee, L"Output1"), first->InputPin()));
    EXPECT_EQ((std::vector<std::wstring>{L"Input", L"Output1", L"Output2"}), PinNames(m_tee));
    EXPECT_TRUE(PinNamed(m_tee, L"output2").IsNull());
    ASSERT_EQ(S_OK, ConnectDirect(m_graph, PinNamed(m_tee, L"Output2"), second->InputPin()));
    EXPECT_EQ((std::vector<std::wstring>{L"Input", L"Output1", L"Output2", L"Output3"}), PinNames(m_tee));

    // Each output carries the input's type.
    AM_MEDIA_TYPE input = {}, output = {};
    ASSERT_EQ(S_OK, FirstPin(m_tee, PINDIR_INPUT)->ConnectionMediaType(&input));
    ASSERT_EQ(S_OK, PinNamed(m_tee, L"Output2")->ConnectionMediaType(&output));
    EXPECT_EQ(input.subtype, output.subtype);
    ASSERT_EQ(input.cbFormat, output.cbFormat);
    EXPECT_EQ(0, std::memcmp(input.pbFormat, output.pbFormat, input.cbFormat));
    ::CoTaskMemFree(input.pbFormat);
    ::CoTaskMemFree(output.pbFormat);

    // A disconnected output keeps its place and name; connecting it again adds nothing.
    COM::TPtr<IPin> output1 = PinNamed(m_tee, L"Output1");
    ASSERT_EQ(S_OK, m_graph->Disconnect(output1));
    ASSERT_EQ(S_OK, m_graph->Disconnect(first->InputPin()));
    EXPECT_EQ(4u, PinNames(m_tee).size());
    ASSERT_EQ(S_OK, ConnectDirect(m_graph, output1, first->InputPin()));
    EXPECT_EQ(4u, PinNames(m_tee).size());
}

TEST_F(InfTee, PassesEverySampleAndTheStreamNotificationsToEveryOutput)
{
    ASSERT_EQ(S_OK, ConnectSource());
    for (const wchar_t* name : {L"Output1", L"Output2", L"Output3"}) {
        CCollectingSink* const sink = AddSink();
        ASSERT_NE(nullptr, sink);
        ASSERT_EQ(S_OK, ConnectDirect(m_graph, PinNamed(m_tee, name), sink->InputPin())) << name;
    }
    COM::TPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, m_graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    for (CCollectingSink* sink : m_sinks)
        EXPECT_TRUE(sink->WaitUntil([](const CCollection& c) { return c.endOfStream > 0; }));

    const std::vector<BYTE> expected = PcmSource::CSignal::Generate(m_settings, PcmSource::TotalFrames(m_settings));
    const CCollection reference = m_sinks[0]->Collected();
    EXPECT_EQ(m_source->Output()->DeliveredSamples(), reference.samples.size());
    for (CCollectingSink* sink : m_sinks) {
        const CCollection collected = sink->Collected();
        EXPECT_EQ(1, collected.endOfStream);
        EXPECT_EQ(expected, collected.bytes);
        ASSERT_EQ(reference.samples.size(), collected.samples.size());
        for (size_t i = 0; i < collected.samples.size(); ++i) {
            EXPECT_EQ(reference.samples[i].start, collected.samples[i].start);
            EXPECT_EQ(reference.samples[i].stop, collected.samples[i].stop);
            EXPECT_EQ(i == 0, collected.samples[i].discontinuity);
        }
    }

    // Flushes and a new segment, as a seek would send them through the tee.
    COM::TPtr<IPin> input = FirstPin(m_tee, PINDIR_INPUT);
    EXPECT_EQ(S_OK, input->BeginFlush());
    EXPECT_EQ(S_OK, input->EndFlush());
    EXPECT_EQ(S_OK, input->NewSegment(10000000, 20000000, 1.5));
    for (CCollectingSink* sink : m_sinks) {
        const CCollection collected = sink->Collected();
        EXPECT_EQ(1, collected.beginFlush);
        EXPECT_EQ(1, collected.endFlush);
        EXPECT_EQ(1, collected.newSegment);
        EXPECT_EQ(10000000, collected.segmentStart);
        EXPECT_EQ(20000000, collected.segmentStop);
        EXPECT_EQ(1.5, collected.segmentRate);
    }
    ASSERT_TRUE(SUCCEEDED(control->Stop()));
}

} // namespace
