// Stream control on the render sink's input pin, through its IAMStreamControl, with samples from
// the platform's memory allocator: start and stop windows without a clock, the one extra sample,
// commands given while stopped, the notifications to the graph, and with a clock the hold of a
// discarded sample until a command, a stop or a flush releases it.
#include "input_test_support.h"

#include <process.h>

using namespace StdaxTest;

namespace {

constexpr REFERENCE_TIME MaxTime = CBaseStreamControl::MaxTime;

class CStreamControlTest : public CSinkGraphTest {
protected:
    void SetUp() override
    {
        CSinkGraphTest::SetUp();
        ConnectSource();
        ASSERT_EQ(S_OK, Pin()->PinInterface()->QueryInterface(IID_IAMStreamControl, reinterpret_cast<void**>(&m_control2)));
    }
    void TearDown() override
    {
        // The sink was run on its own: the graph does not know it has to stop it.
        m_sink->Interface()->Stop();
        m_control2.Release();
        CSinkGraphTest::TearDown();
    }

    // Runs the sink alone (the graph stays stopped) with stream time 0 at clock time 0.
    void RunSink(IReferenceClock* clock)
    {
        ASSERT_EQ(S_OK, m_sink->Interface()->SetSyncSource(clock));
        ASSERT_EQ(S_OK, m_sink->Interface()->Run(0));
    }

    // Delivers [start, start + length) and tells whether it flowed.
    bool Flows(REFERENCE_TIME start, REFERENCE_TIME length = 100)
    {
        COM::TPtr<IMediaSample> sample = Sample(start, start + length);
        EXPECT_EQ(S_OK, Transport()->Receive(sample));
        const std::vector<RenderSink::CReceivedSample> samples = m_sink->Samples();
        return !samples.empty() && !samples.back().discarded;
    }

    AM_STREAM_INFO Info()
    {
        AM_STREAM_INFO info = {};
        EXPECT_EQ(S_OK, m_control2->GetInfo(&info));
        return info;
    }

    COM::TPtr<IAMStreamControl> m_control2;
};

struct CReceiveThread {
    IMemInputPin* transport;
    IMediaSample* sample;
    HRESULT result = E_FAIL;

    static unsigned __stdcall Main(void* self)
    {
        auto* const thread = static_cast<CReceiveThread*>(self);
        thread->result = thread->transport->Receive(thread->sample);
        return 0;
    }
};

// Starts a Receive on a thread of its own; the handle is closed by Join.
HANDLE StartReceive(CReceiveThread* thread)
{
    return reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, &CReceiveThread::Main, thread, 0, nullptr));
}

bool Join(HANDLE thread)
{
    const bool ended = ::WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    ::CloseHandle(thread);
    return ended;
}

} // namespace

TEST_F(CStreamControlTest, WindowsWithoutClockSwitchTheStreamWhenSampleTimesReachThem)
{
    RunSink(nullptr);
    EXPECT_TRUE(Flows(0));

    const REFERENCE_TIME stop = 1150, start = 1350;
    ASSERT_EQ(S_OK, m_control2->StopAt(&stop, FALSE, 7));
    ASSERT_EQ(S_OK, m_control2->StartAt(&start, 8));
    AM_STREAM_INFO info = Info();
    EXPECT_EQ(static_cast<DWORD>(AM_STREAM_INFO_START_DEFINED | AM_STREAM_INFO_STOP_DEFINED), info.dwFlags);
    EXPECT_EQ(start, info.tStart);
    EXPECT_EQ(stop, info.tStop);
    EXPECT_EQ(8u, info.dwStartCookie);
    EXPECT_EQ(7u, info.dwStopCookie);

    EXPECT_TRUE(Flows(1000)) << "before the stop";
    EXPECT_TRUE(Flows(1100)) << "a sample that holds the stop time still flows";
    EXPECT_FALSE(Flows(1200)) << "past the stop, before the start";
    info = Info();
    EXPECT_EQ(static_cast<DWORD>(AM_STREAM_INFO_START_DEFINED | AM_STREAM_INFO_DISCARDING), info.dwFlags);
    EXPECT_TRUE(Flows(1300)) << "the sample that holds the start time";
    EXPECT_EQ(0u, Info().dwFlags);

    // The graph heard of both, with the pin's stream control and the cookies.
    const std::vector<CGraphEvent> events = TakeEvents();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(EC_STREAM_CONTROL_STOPPED, events[0].code);
    EXPECT_EQ(7, events[0].param2);
    EXPECT_EQ(EC_STREAM_CONTROL_STARTED, events[1].code);
    EXPECT_EQ(8, events[1].param2);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(m_control2.p), events[0].param1);

    // Commands without a time act at once; a sample without times follows the stream state.
    ASSERT_EQ(S_OK, m_control2->StopAt(nullptr, FALSE, 0));
    EXPECT_FALSE(Flows(1400));
    COM::TPtr<IMediaSample> untimed = Sample();
    EXPECT_EQ(S_OK, Transport()->Receive(untimed));
    EXPECT_TRUE(m_sink->Samples().back().discarded);
    ASSERT_EQ(S_OK, m_control2->StartAt(nullptr, 0));
    EXPECT_TRUE(Flows(1500));
    EXPECT_EQ(0u, TakeEvents().size()) << "commands without cookies are not reported";
}

TEST_F(CStreamControlTest, SendExtraLetsExactlyOneSampleThroughAfterTheStop)
{
    RunSink(nullptr);
    const REFERENCE_TIME stop = 150;
    ASSERT_EQ(S_OK, m_control2->StopAt(&stop, TRUE, 0));
    EXPECT_EQ(static_cast<DWORD>(AM_STREAM_INFO_STOP_DEFINED | AM_STREAM_INFO_STOP_SEND_EXTRA), Info().dwFlags);
    EXPECT_TRUE(Flows(0));
    EXPECT_TRUE(Flows(100));
    EXPECT_TRUE(Flows(200)) << "the extra one";
    EXPECT_FALSE(Flows(300));
    EXPECT_FALSE(Flows(400));

    // Without it the first sample past the stop is discarded.
    ASSERT_EQ(S_OK, m_control2->StartAt(nullptr, 0));
    const REFERENCE_TIME secondStop = 550;
    ASSERT_EQ(S_OK, m_control2->StopAt(&secondStop, FALSE, 0));
    EXPECT_TRUE(Flows(500));
    EXPECT_FALSE(Flows(600));
}

TEST_F(CStreamControlTest, CommandsWhileStoppedSetTheStartingStateAndStopCarriesOutPendingOnes)
{
    // A start ahead: the stream starts as discarding; cancelling the (absent) stop keeps it so.
    const REFERENCE_TIME start = 500;
    ASSERT_EQ(S_OK, m_control2->StartAt(&start, 0));
    EXPECT_TRUE(Info().dwFlags & AM_STREAM_INFO_DISCARDING);
    const REFERENCE_TIME cancel = MaxTime;
    ASSERT_EQ(S_OK, m_control2->StopAt(&cancel, FALSE, 0));
    EXPECT_TRUE(Info().dwFlags & AM_STREAM_INFO_DISCARDING);
    // A stop before that start: flowing until the stop.
    const REFERENCE_TIME stop = 200;
    ASSERT_EQ(S_OK, m_control2->StopAt(&stop, FALSE, 0));
    EXPECT_FALSE(Info().dwFlags & AM_STREAM_INFO_DISCARDING);
    // Cancelling the start with the stop pending: still flowing.
    ASSERT_EQ(S_OK, m_control2->StartAt(&cancel, 0));
    EXPECT_EQ(static_cast<DWORD>(AM_STREAM_INFO_STOP_DEFINED), Info().dwFlags);
    ASSERT_EQ(S_OK, m_control2->StartAt(nullptr, 0));

    RunSink(nullptr);
    EXPECT_TRUE(Flows(0));
    EXPECT_FALSE(Flows(300));

    // Stopping the filter carries out what is still scheduled, in time order, and reports it.
    const REFERENCE_TIME laterStart = 5000, laterStop = 6000;
    ASSERT_EQ(S_OK, m_control2->StartAt(&laterStart, 3));
    ASSERT_EQ(S_OK, m_control2->StopAt(&laterStop, FALSE, 4));
    TakeEvents();
    ASSERT_EQ(S_OK, m_sink->Interface()->Stop());
    const std::vector<CGraphEvent> events = TakeEvents();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(EC_STREAM_CONTROL_STARTED, events[0].code);
    EXPECT_EQ(3, events[0].param2);
    EXPECT_EQ(EC_STREAM_CONTROL_STOPPED, events[1].code);
    EXPECT_EQ(4, events[1].param2);
    EXPECT_EQ(0u, Info().dwFlags) << "nothing scheduled, flowing";

    EXPECT_EQ(E_POINTER, m_control2->GetInfo(nullptr));
}

TEST_F(CStreamControlTest, WithClockDiscardsPastSamplesAtOnceAndHoldsFutureOnesUntilReleased)
{
    CFixedClock clock;
    RunSink(&clock);
    ASSERT_EQ(S_OK, m_control2->StopAt(nullptr, FALSE, 0));

    // A discarded sample whose time has passed goes at once.
    clock.m_time = 50000000;
    EXPECT_FALSE(Flows(1000));

    // One still ahead of the clock is held until its time; a start given meanwhile lets it pass.
    clock.m_time = 0;
    COM::TPtr<IMediaSample> ahead = Sample(50000000, 50100000);
    CReceiveThread receive{Transport(), ahead};
    HANDLE thread = StartReceive(&receive);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(thread, 100)) << "held";
    ASSERT_EQ(S_OK, m_control2->StartAt(nullptr, 0));
    ASSERT_TRUE(Join(thread));
    EXPECT_EQ(S_OK, receive.result);
    EXPECT_FALSE(m_sink->Samples().back().discarded);

    // While paused the hold has no end of its own: a flush ends it ...
    ASSERT_EQ(S_OK, m_control2->StopAt(nullptr, FALSE, 0));
    ASSERT_EQ(S_OK, m_sink->Interface()->Pause());
    const size_t before = m_sink->Samples().size();
    receive.result = E_FAIL;
    thread = StartReceive(&receive);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(thread, 100)) << "held";
    ASSERT_EQ(S_OK, Pin()->PinInterface()->BeginFlush());
    ASSERT_TRUE(Join(thread));
    EXPECT_EQ(S_OK, receive.result);
    ASSERT_EQ(before + 1, m_sink->Samples().size());
    EXPECT_TRUE(m_sink->Samples().back().discarded);
    ASSERT_EQ(S_OK, Pin()->PinInterface()->EndFlush());

    // ... and so does the filter's stop, which waits for that Receive to finish.
    thread = StartReceive(&receive);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(thread, 100)) << "held";
    ASSERT_EQ(S_OK, m_sink->Interface()->Stop());
    ASSERT_TRUE(Join(thread));
    EXPECT_EQ(before + 2, m_sink->Samples().size());
    EXPECT_TRUE(m_sink->Samples().back().discarded);

    ahead.Release();
    ASSERT_EQ(S_OK, m_sink->Interface()->SetSyncSource(nullptr));
    EXPECT_EQ(1, clock.m_references) << "the stream control let go of the clock";
}
