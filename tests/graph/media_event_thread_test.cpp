// The media event thread against Wine's graph manager: the attach/detach protocol and its time-outs,
// events reaching the callback on the worker, and recovery after a failed attach or a shutdown.
#include "graph/filter_graph.h"
#include "graph/filter_graph_playback.h"
#include "graph/media_control.h"
#include "graph/media_event_thread.h"
#include "graph_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <vector>

namespace {

using GraphTest::CComThread;
using GraphTest::WaitFor;

constexpr long kTestEvent = EC_USER + 7;

struct SEvent {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
    DWORD threadId;
};

// What the callback saw, and what it does inside the call.
std::mutex g_mutex;
std::vector<SEvent> g_events;
std::function<void()> g_inside;

void RecordEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_events.push_back({code, param1, param2, ::GetCurrentThreadId()});
    }
    if (code == kTestEvent && g_inside)
        g_inside();
}

std::vector<SEvent> EventsWithCode(long code)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<SEvent> found;
    for (const SEvent& event : g_events)
        if (event.code == code)
            found.push_back(event);
    return found;
}

class MediaEventThread : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_events.clear();
        g_inside = nullptr;
        ASSERT_EQ(graph.Create(), S_OK);
    }

    void TearDown() override { g_inside = nullptr; }

    HRESULT Post(long code, LONG_PTR param1, LONG_PTR param2)
    {
        COM::TPtr<IMediaEventSink> sink;
        HRESULT hr = graph.QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
        return SUCCEEDED(hr) ? sink->Notify(code, param1, param2) : hr;
    }

    CComThread com;
    DirectShow::CFilterGraph graph;
    DirectShow::CMediaEventThread thread;
};

TEST_F(MediaEventThread, InitialiseOnce)
{
    EXPECT_EQ(thread.Initialise(nullptr), E_POINTER);
    EXPECT_EQ(thread.Initialise(&RecordEvent), S_OK);
    EXPECT_EQ(thread.Initialise(&RecordEvent), E_UNEXPECTED);
    EXPECT_EQ(thread.Shutdown(), S_OK);
    EXPECT_EQ(thread.Initialise(&RecordEvent), S_OK);
}

TEST_F(MediaEventThread, AttachTwiceDetachTwice)
{
    ASSERT_EQ(thread.Initialise(&RecordEvent), S_OK);
    EXPECT_EQ(thread.Attach(nullptr), E_POINTER);
    EXPECT_EQ(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Attach(graph.p), E_UNEXPECTED);
    EXPECT_EQ(thread.Detach(), S_OK);
    EXPECT_EQ(thread.Detach(), S_FALSE);
    EXPECT_EQ(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Detach(), S_OK);
}

TEST_F(MediaEventThread, EventsReachTheCallbackOnTheWorkerUntilDetached)
{
    ASSERT_EQ(thread.Initialise(&RecordEvent), S_OK);
    ASSERT_EQ(thread.Attach(graph.p), S_OK);
    ASSERT_EQ(Post(kTestEvent, 5, 6), S_OK);
    ASSERT_EQ(Post(kTestEvent, 7, 8), S_OK);
    ASSERT_TRUE(WaitFor([] { return EventsWithCode(kTestEvent).size() == 2; }));
    const std::vector<SEvent> events = EventsWithCode(kTestEvent);
    EXPECT_EQ(events[0].param1, 5);
    EXPECT_EQ(events[0].param2, 6);
    EXPECT_EQ(events[1].param1, 7);
    EXPECT_NE(events[0].threadId, ::GetCurrentThreadId());
    EXPECT_EQ(events[1].threadId, events[0].threadId);

    ASSERT_EQ(thread.Detach(), S_OK);
    ASSERT_EQ(Post(kTestEvent, 9, 9), S_OK);
    ::Sleep(200);
    EXPECT_EQ(EventsWithCode(kTestEvent).size(), 2u);
}

TEST_F(MediaEventThread, DetachFromInsideTheCallbackTimesOut)
{
    ASSERT_EQ(thread.Initialise(&RecordEvent), S_OK);
    ASSERT_EQ(thread.Attach(graph.p), S_OK);
    HRESULT inside = E_PENDING;
    g_inside = [&] { inside = thread.Detach(); };
    ASSERT_EQ(Post(kTestEvent, 0, 0), S_OK);
    ASSERT_TRUE(WaitFor([] { return EventsWithCode(kTestEvent).size() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return inside != E_PENDING; }, 5000));
    EXPECT_EQ(inside, S_OK);  // the worker does not wait for itself
    g_inside = nullptr;
    EXPECT_EQ(thread.Detach(), S_FALSE);
    EXPECT_EQ(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Detach(), S_OK);
}

TEST_F(MediaEventThread, AttachBeforeInitialiseKeepsNothing)
{
    EXPECT_EQ(thread.Attach(graph.p), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    EXPECT_EQ(thread.Detach(), S_FALSE);
    ASSERT_EQ(thread.Initialise(&RecordEvent), S_OK);
    EXPECT_EQ(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Detach(), S_OK);
}

TEST_F(MediaEventThread, ShutdownWhileAttachedLetsALaterAttachStartAfresh)
{
    ASSERT_EQ(thread.Initialise(&RecordEvent), S_OK);
    ASSERT_EQ(thread.Attach(graph.p), S_OK);
    EXPECT_EQ(thread.Shutdown(), S_OK);
    EXPECT_EQ(thread.Detach(), S_FALSE);  // the graph's interface went with the worker
    EXPECT_EQ(thread.Attach(graph.p), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    ASSERT_EQ(thread.Initialise(&RecordEvent), S_OK);
    EXPECT_EQ(thread.Attach(graph.p), S_OK);
    ASSERT_EQ(Post(kTestEvent, 1, 2), S_OK);
    EXPECT_TRUE(WaitFor([] { return EventsWithCode(kTestEvent).size() == 1; }));
}

TEST_F(MediaEventThread, DetachAfterAWorkerThatEndedReleasesAtOnce)
{
    ASSERT_EQ(thread.Initialise(&RecordEvent), S_OK);
    COM::TPtr<IMediaEvent> events;
    ASSERT_EQ(graph.QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)), S_OK);
    ASSERT_EQ(thread.Attach(graph.p), S_OK);
    // A callback that ends the worker (as a failing step would) leaves nobody to acknowledge.
    g_inside = [&] { ::ExitThread(0); };
    ASSERT_EQ(Post(kTestEvent, 0, 0), S_OK);
    ASSERT_TRUE(WaitFor([] { return EventsWithCode(kTestEvent).size() == 1; }));
    EXPECT_EQ(thread.Detach(), S_OK);  // nobody to answer, nothing to wait for
    EXPECT_EQ(thread.Shutdown(), S_OK);
    EXPECT_EQ(thread.Detach(), S_FALSE);
}

TEST_F(MediaEventThread, EndOfAPlaybackArrivesAsComplete)
{
    CFilterGraph_Playback playback;
    ASSERT_EQ(playback.Init(GraphTest::kToneWav.c_str(), 1), S_OK);
    ASSERT_EQ(thread.Initialise(&RecordEvent), S_OK);
    ASSERT_EQ(thread.Attach(playback.p), S_OK);
    DirectShow::CMediaControl control;
    ASSERT_EQ(control.Attach(playback), S_OK);
    ASSERT_GE(control.Run(), S_OK);
    ASSERT_TRUE(WaitFor([] { return !EventsWithCode(EC_COMPLETE).empty(); }, 15000));
    EXPECT_NE(EventsWithCode(EC_COMPLETE)[0].threadId, ::GetCurrentThreadId());
    EXPECT_GE(control.Stop(), S_OK);
    EXPECT_EQ(thread.Detach(), S_OK);
}

} // namespace
