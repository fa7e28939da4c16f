#include "support/critical_section.h"
#include "support/event.h"
#include "support/thread.h"
#include "support/thread_ex.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

using Synchronization::CAutoLock;
using Synchronization::CCriticalSection;
using Synchronization::CEvent;
using Synchronization::CThread;
using Synchronization::CThreadEx;

constexpr DWORD Generous = 10000; // ms: longer than any wait here should take

// A duplicate of a thread handle that outlives the object's own, to read the exit code afterwards.
class CThreadWatch {
public:
    explicit CThreadWatch(HANDLE thread)
    {
        ::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &m_handle, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    }
    ~CThreadWatch()
    {
        if (m_handle)
            ::CloseHandle(m_handle);
    }
    bool Valid() const { return m_handle != nullptr; }
    bool WaitEnded() const { return ::WaitForSingleObject(m_handle, Generous) == WAIT_OBJECT_0; }
    DWORD ExitCode() const
    {
        DWORD code = 0;
        ::GetExitCodeThread(m_handle, &code);
        return code;
    }

private:
    HANDLE m_handle = nullptr;
};

TEST(Event, WaitResultsForManualAndAutoReset)
{
    CEvent manual;
    EXPECT_FALSE(manual.IsValid());
    ASSERT_EQ(manual.Create(true), S_OK);
    EXPECT_TRUE(manual.ManualReset());
    EXPECT_EQ(manual.Create(true), E_UNEXPECTED);
    EXPECT_EQ(manual.Test(), S_FALSE);
    EXPECT_EQ(manual.Wait(20), S_FALSE);
    EXPECT_EQ(manual.Set(), S_OK);
    EXPECT_EQ(manual.Test(), S_OK);
    EXPECT_EQ(manual.Wait(20), S_OK); // stays signalled
    EXPECT_EQ(manual.Reset(), S_OK);
    EXPECT_EQ(manual.Test(), S_FALSE);

    CEvent automatic;
    ASSERT_EQ(automatic.Create(false), S_OK);
    EXPECT_FALSE(automatic.ManualReset());
    EXPECT_EQ(automatic.Set(), S_OK);
    EXPECT_EQ(automatic.Wait(Generous), S_OK);
    EXPECT_EQ(automatic.Test(), S_FALSE); // the wait consumed the signal
}

TEST(Event, CloseAndFailuresOfMissingHandles)
{
    CEvent event;
    // Nothing held: Close has nothing to do, the other operations fail with the mapped system error.
    EXPECT_EQ(event.Close(), S_FALSE);
    EXPECT_EQ(event.Wait(0), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    EXPECT_EQ(event.Set(), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));

    ASSERT_EQ(event.Create(false), S_OK);
    const HANDLE raw = event.Get();
    EXPECT_EQ(event.Close(), S_OK);
    EXPECT_EQ(event.Get(), nullptr);
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(raw, &flags)); // really closed

    // Created again after Close; the destructor closes it.
    HANDLE second = nullptr;
    {
        CEvent again;
        ASSERT_EQ(again.Create(true), S_OK);
        second = again.Get();
        EXPECT_TRUE(::GetHandleInformation(second, &flags));
    }
    EXPECT_FALSE(::GetHandleInformation(second, &flags));
}

DWORD WINAPI SetEventLater(void* event)
{
    ::Sleep(50);
    return static_cast<CEvent*>(event)->Set() == S_OK ? 0 : 1;
}

TEST(Event, SignalledFromAnotherThread)
{
    CEvent event;
    ASSERT_EQ(event.Create(true), S_OK);
    CThread thread;
    ASSERT_EQ(thread.Start(&SetEventLater, &event), S_OK);
    EXPECT_EQ(event.Wait(Generous), S_OK);
    EXPECT_EQ(thread.Wait(Generous), S_OK);
}

struct SThreadProbe {
    DWORD id = 0;
    CEvent running;
    CEvent release;
};

DWORD WINAPI RecordIdAndWait(void* parameter)
{
    SThreadProbe* probe = static_cast<SThreadProbe*>(parameter);
    probe->id = ::GetCurrentThreadId();
    probe->running.Set();
    probe->release.Wait(INFINITE);
    return 42;
}

TEST(Thread, StartsRunsAndReportsItsExitCode)
{
    SThreadProbe probe;
    ASSERT_EQ(probe.running.Create(true), S_OK);
    ASSERT_EQ(probe.release.Create(true), S_OK);
    CThread thread;
    EXPECT_EQ(thread.Id(), CThread::NoThreadId);
    ASSERT_EQ(thread.Start(&RecordIdAndWait, &probe), S_OK);
    EXPECT_TRUE(thread.Started());
    EXPECT_EQ(thread.Start(&RecordIdAndWait, &probe), E_UNEXPECTED);
    EXPECT_EQ(thread.Test(), S_FALSE);

    probe.release.Set();
    EXPECT_EQ(thread.Wait(Generous), S_OK);
    EXPECT_EQ(thread.Id(), probe.id);
    DWORD code = 0;
    EXPECT_TRUE(::GetExitCodeThread(thread.Get(), &code));
    EXPECT_EQ(code, 42u);

    EXPECT_EQ(thread.Close(), S_OK);
    EXPECT_FALSE(thread.IsValid());
    EXPECT_FALSE(thread.Started());
    EXPECT_EQ(thread.Id(), CThread::NoThreadId);
    EXPECT_EQ(thread.Close(), S_FALSE);
}

TEST(Thread, CloseTerminatesARunningThread)
{
    SThreadProbe probe;
    ASSERT_EQ(probe.running.Create(true), S_OK);
    ASSERT_EQ(probe.release.Create(true), S_OK);
    CThread thread;
    ASSERT_EQ(thread.Start(&RecordIdAndWait, &probe), S_OK);
    CThreadWatch watch(thread.Get());
    ASSERT_TRUE(watch.Valid());
    // Terminated while it waits (not while the system is still setting the thread up).
    ASSERT_EQ(probe.running.Wait(Generous), S_OK);

    EXPECT_EQ(thread.Close(), S_OK);
    EXPECT_FALSE(thread.IsValid());
    ASSERT_TRUE(watch.WaitEnded());
    EXPECT_EQ(watch.ExitCode(), CThread::TerminatedExitCode);
    EXPECT_EQ(CThread::TerminatedExitCode, 16388u);
}

// A worker that counts its calls and can be told how to behave.
class CTestWorker : public CThreadEx {
public:
    ~CTestWorker() override { Stop(); }

    using CThreadEx::StopTimeout;
    using CThreadEx::ThreadHandle;
    using CThreadEx::ThreadId;

    HRESULT onStartResult = S_OK;
    HRESULT runResult = S_OK;      // returned by Run after its wait
    HRESULT onStopResult = S_OK;
    bool runIgnoresStop = false;   // Run waits for `release` instead of the stop event
    bool runReturnsAtOnce = false; // Run returns without waiting
    CEvent release;
    LONG onStartCalls = 0;
    LONG runCalls = 0;
    LONG onStopCalls = 0;

protected:
    HRESULT OnStart() override
    {
        ::InterlockedIncrement(&onStartCalls);
        return onStartResult;
    }
    HRESULT Run() override
    {
        ::InterlockedIncrement(&runCalls);
        if (runReturnsAtOnce)
            return runResult;
        if (runIgnoresStop) {
            release.Wait(INFINITE);
            return runResult;
        }
        const HRESULT hr = CThreadEx::Run();
        return hr == S_OK ? runResult : hr;
    }
    HRESULT OnStop() override
    {
        ::InterlockedIncrement(&onStopCalls);
        return onStopResult;
    }
};

TEST(ThreadEx, StartStopStartStop)
{
    CTestWorker worker;
    EXPECT_EQ(worker.StopTimeout(), 1000u);
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(worker.Start(), S_OK) << round;
        EXPECT_NE(worker.ThreadHandle(), nullptr);
        EXPECT_NE(worker.ThreadId(), CThread::NoThreadId);
        EXPECT_EQ(worker.Start(), E_UNEXPECTED);
        CThreadWatch watch(worker.ThreadHandle());
        EXPECT_EQ(worker.Stop(), S_OK) << round;
        EXPECT_EQ(worker.ThreadHandle(), nullptr);
        ASSERT_TRUE(watch.WaitEnded());
        EXPECT_EQ(watch.ExitCode(), 0u);
        EXPECT_EQ(worker.onStartCalls, round);
        EXPECT_EQ(worker.runCalls, round);
        EXPECT_EQ(worker.onStopCalls, round);
    }
}

TEST(ThreadEx, StopWhileIdleHasNothingToDo)
{
    CTestWorker worker;
    EXPECT_EQ(worker.Stop(), S_FALSE);
    ASSERT_EQ(worker.Start(), S_OK);
    EXPECT_EQ(worker.Stop(), S_OK);
    EXPECT_EQ(worker.Stop(), S_FALSE);
}

TEST(ThreadEx, RunIgnoringStopIsTerminatedAfterTimeoutAndCanStartAgain)
{
    CTestWorker worker;
    ASSERT_EQ(worker.release.Create(true), S_OK);
    worker.runIgnoresStop = true;
    ASSERT_EQ(worker.Start(), S_OK);
    CThreadWatch watch(worker.ThreadHandle());
    ASSERT_TRUE(watch.Valid());

    const ULONGLONG before = ::GetTickCount64();
    EXPECT_EQ(worker.Stop(), S_FALSE);
    const ULONGLONG elapsed = ::GetTickCount64() - before;
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, static_cast<ULONGLONG>(Generous));
    ASSERT_TRUE(watch.WaitEnded());
    EXPECT_EQ(watch.ExitCode(), 16388u);
    EXPECT_EQ(worker.onStopCalls, 0);

    // The object is idle again and starts a fresh thread.
    worker.runIgnoresStop = false;
    ASSERT_EQ(worker.Start(), S_OK);
    EXPECT_EQ(worker.Stop(), S_OK);
    EXPECT_EQ(worker.runCalls, 2);
    EXPECT_EQ(worker.onStopCalls, 1);
}

TEST(ThreadEx, StopAfterThreadEndedByItselfSucceeds)
{
    CTestWorker worker;
    worker.runReturnsAtOnce = true;
    worker.runResult = static_cast<HRESULT>(0x00040005); // a success code other than S_OK
    ASSERT_EQ(worker.Start(), S_OK);
    CThreadWatch watch(worker.ThreadHandle());
    ASSERT_TRUE(watch.WaitEnded());
    EXPECT_EQ(watch.ExitCode(), 0x00040005u); // Run's result
    EXPECT_EQ(worker.onStopCalls, 1);

    EXPECT_EQ(worker.Start(), E_UNEXPECTED); // running until stopped
    EXPECT_EQ(worker.Stop(), S_OK);
    EXPECT_EQ(worker.Start(), S_OK);
    EXPECT_EQ(worker.Stop(), S_OK);
}

TEST(ThreadEx, ExitCodeIsRunResultElseOnStopResult)
{
    struct SCase {
        HRESULT run;
        HRESULT onStop;
        DWORD exitCode;
    };
    const SCase cases[] = {
        {S_OK, S_OK, 0},
        {S_OK, E_FAIL, static_cast<DWORD>(E_FAIL)},
        {S_OK, S_FALSE, 1},
        {E_ABORT, E_FAIL, static_cast<DWORD>(E_ABORT)},
        {S_FALSE, E_FAIL, 1},
    };
    for (const SCase& c : cases) {
        CTestWorker worker;
        worker.runReturnsAtOnce = true;
        worker.runResult = c.run;
        worker.onStopResult = c.onStop;
        ASSERT_EQ(worker.Start(), S_OK);
        CThreadWatch watch(worker.ThreadHandle());
        ASSERT_TRUE(watch.WaitEnded());
        EXPECT_EQ(watch.ExitCode(), c.exitCode) << std::hex << c.run << " " << c.onStop;
        EXPECT_EQ(worker.Stop(), S_OK);
    }
}

TEST(ThreadEx, FailingOnStartEndsThreadWithItsResult)
{
    CTestWorker worker;
    worker.onStartResult = E_ACCESSDENIED;
    ASSERT_EQ(worker.Start(), S_OK);
    CThreadWatch watch(worker.ThreadHandle());
    ASSERT_TRUE(watch.WaitEnded());
    EXPECT_EQ(watch.ExitCode(), static_cast<DWORD>(E_ACCESSDENIED));
    EXPECT_EQ(worker.onStartCalls, 1);
    EXPECT_EQ(worker.runCalls, 0);
    EXPECT_EQ(worker.onStopCalls, 0);
    EXPECT_EQ(worker.Stop(), S_OK);
}

TEST(ThreadEx, DestructorStopsARunningThread)
{
    HANDLE duplicate = nullptr;
    {
        CTestWorker worker;
        ASSERT_EQ(worker.Start(), S_OK);
        ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), worker.ThreadHandle(), ::GetCurrentProcess(),
                                      &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS));
    }
    EXPECT_EQ(::WaitForSingleObject(duplicate, 0), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeThread(duplicate, &code);
    EXPECT_EQ(code, 0u); // ended by the stop event, not terminated
    ::CloseHandle(duplicate);
}

struct SLockProbe {
    CCriticalSection* lock;
    CEvent entered;
};

DWORD WINAPI EnterLock(void* parameter)
{
    SLockProbe* probe = static_cast<SLockProbe*>(parameter);
    CAutoLock lock(probe->lock);
    probe->entered.Set();
    return 0;
}

TEST(CriticalSection, AutoLockHoldsOtherThreadsOffAndAllowsReentry)
{
    CCriticalSection section;
    SLockProbe probe{&section, {}};
    ASSERT_EQ(probe.entered.Create(true), S_OK);
    CThread thread;
    {
        CAutoLock outer(&section);
        CAutoLock inner(&section); // the owner may enter again
        ASSERT_EQ(thread.Start(&EnterLock, &probe), S_OK);
        EXPECT_EQ(probe.entered.Wait(100), S_FALSE);
    }
    EXPECT_EQ(probe.entered.Wait(Generous), S_OK);
    EXPECT_EQ(thread.Wait(Generous), S_OK);

    CAutoLock none(nullptr); // no lock at all
}

} // namespace
