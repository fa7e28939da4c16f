#pragma once
// Shared set-up for the tests of the framework's input side: the render sink inside the platform's
// filter graph, fed by the test filter's output pin (which only connects; the tests deliver the
// samples themselves from the platform's memory allocator), and the graph's event queue.
#include "platform/render_sink/render_sink.h"
#include "stdax/com/ptr.h"
#include "test_filter.h"

#include <gtest/gtest.h>

#include <control.h>
#include <evcode.h>
#include <uuids.h>

#include <vector>

namespace StdaxTest {

struct CGraphEvent {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

class CSinkGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                           reinterpret_cast<void**>(&m_graph)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_control)));
        ASSERT_EQ(S_OK, m_graph.QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&m_events)));
        // Every renderer's EC_COMPLETE reaches the queue as it was sent.
        ASSERT_EQ(S_OK, m_events->CancelDefaultHandling(EC_COMPLETE));
        m_sink = RenderSink::CFilter::Create();
        ASSERT_NE(nullptr, m_sink);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_sink->Interface(), L"Sink"));
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                           reinterpret_cast<void**>(&m_allocator)));
        ALLOCATOR_PROPERTIES wanted = {4, 256, 1, 0}, actual = {};
        ASSERT_EQ(S_OK, m_allocator->SetProperties(&wanted, &actual));
    }

    void TearDown() override
    {
        if (m_control.IsValid())
            m_control->Stop();
        if (m_allocator.IsValid())
            m_allocator->Decommit();
        m_allocator.Release();
        if (m_source != nullptr)
            m_source->Interface()->Release();
        if (m_sink != nullptr)
            m_sink->Interface()->Release();
        m_events.Release();
        m_control.Release();
        m_graph.Release();
        EXPECT_EQ(0, m_live.Leaked());
    }

    // The test filter's output pin connected to the sink's input pin through the graph.
    void ConnectSource()
    {
        m_source = CTestFilter::Create();
        ASSERT_NE(nullptr, m_source);
        ASSERT_EQ(S_OK, m_graph->AddFilter(m_source->Interface(), L"Source"));
        ASSERT_EQ(S_OK, m_graph->ConnectDirect(m_source->Output()->PinInterface(), Pin()->PinInterface(), nullptr));
    }

    RenderSink::CInputPin* Pin() const { return m_sink->Input(); }
    IMemInputPin* Transport() const { return m_sink->Input()->MemInputPinInterface(); }

    // A sample from the platform's allocator (committed again when a stop decommitted it).
    // start < 0: no times; stop < 0: a start time only.
    COM::TPtr<IMediaSample> Sample(REFERENCE_TIME start = -1, REFERENCE_TIME stop = -1, long bytes = 16)
    {
        COM::TPtr<IMediaSample> sample;
        EXPECT_EQ(S_OK, m_allocator->Commit());
        EXPECT_EQ(S_OK, m_allocator->GetBuffer(&sample, nullptr, nullptr, 0));
        if (sample.IsNull())
            return sample;
        BYTE* data = nullptr;
        EXPECT_EQ(S_OK, sample->GetPointer(&data));
        for (long i = 0; i < bytes; ++i)
            data[i] = static_cast<BYTE>(0x40 + i);
        EXPECT_EQ(S_OK, sample->SetActualDataLength(bytes));
        if (start >= 0) {
            REFERENCE_TIME times[2] = {start, stop};
            EXPECT_EQ(S_OK, sample->SetTime(&times[0], stop >= 0 ? &times[1] : nullptr));
        }
        return sample;
    }

    // What the graph's event queue holds now, emptied.
    std::vector<CGraphEvent> TakeEvents()
    {
        std::vector<CGraphEvent> taken;
        CGraphEvent event = {};
        while (m_events->GetEvent(&event.code, &event.param1, &event.param2, 0) == S_OK) {
            taken.push_back(event);
            m_events->FreeEventParams(event.code, event.param1, event.param2);
        }
        return taken;
    }

    static int Count(const std::vector<CGraphEvent>& events, long code)
    {
        int n = 0;
        for (const CGraphEvent& event : events)
            n += event.code == code ? 1 : 0;
        return n;
    }

    CComApartment m_com;
    CLiveObjectCheck m_live;
    COM::TPtr<IFilterGraph> m_graph;
    COM::TPtr<IMediaControl> m_control;
    COM::TPtr<IMediaEvent> m_events;
    COM::TPtr<IMemAllocator> m_allocator;
    RenderSink::CFilter* m_sink = nullptr;
    CTestFilter* m_source = nullptr;
};

} // namespace StdaxTest
