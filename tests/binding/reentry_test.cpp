// The natives called from inside "Stopped" and while a "Stopped" handler blocks, a playback whose start
// failed, streaming errors and why a stream ended, and callbacks the library cannot bind: through the
// exports with the stand-in VM and real playback graphs. No call here may hang the test: every call
// that could is made on a helper thread and waited for with a bound.
#include "initialised_library_test.h"

#include <dshow.h>

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

using ::testing::Contains;
using ::testing::ElementsAre;

namespace {

const std::wstring kToneWav = TEST_DATA_DIR L"/tone-2s.wav";

template <class Function>
Function Export(const wchar_t* module, const char* name)
{
    HMODULE handle = ::GetModuleHandleW(module);
    return handle != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(handle, name)))
                             : nullptr;
}

HRESULT PostGraphEvent(long code, LONG_PTR param1 = 0, LONG_PTR param2 = 0)
{
    using Notify = HRESULT(WINAPI*)(long, LONG_PTR, LONG_PTR);
    const Notify notify = Export<Notify>(L"url_reader.dll", "UrlReader_Notify");
    return notify != nullptr ? notify(code, param1, param2) : E_UNEXPECTED;
}

class Reentry : public CInitialisedLibraryTest {
public:
    jint Play(JNIEnv* env, const std::wstring& path = kToneWav)
    {
        return library.Java_com_tarvik_kelvane_Quillmar_play(env, library.Java(), Jvm().NewByteArray(Utf8(path)), 1);
    }
    jint Play() { return Play(library.Env()); }
    jint Stop(JNIEnv* env) { return library.Java_com_tarvik_kelvane_Quillmar_stop(env, library.Java()); }
    jint Stop() { return Stop(library.Env()); }
    jint Duration(JNIEnv* env, double* seconds)
    {
        jdoubleArray array = Jvm().NewDoubleArray(1);
        const jint result = library.Java_com_tarvik_kelvane_Quillmar_getDuration(env, library.Java(), array);
        *seconds = Jvm().DoubleContents(array)[0];
        return result;
    }
    std::vector<std::wstring> FinishedLog()
    {
        library.FreeLibrary();
        library.Unload();
        return CLoadedLibrary::ReadMainLog().Messages();
    }
};

// A program that frees the library when its playback ends and starts it again from the same handler.
TEST_F(Reentry, FreeLibraryAndInitLibraryInsideStopped)
{
    ASSERT_GE(Play(), 0);
    std::atomic<bool> returned{false};
    std::atomic<jint> insideDuration{1};
    std::atomic<jint> insideInit{1};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method != "Stopped")
            return;
        library.Java_com_tarvik_kelvane_Quillmar_freeLibrary(Jvm().Env(), library.Java());
        // The library is free: queries find nothing held, and it can be initialised again at once.
        double seconds = 0.0;
        insideDuration = Duration(Jvm().Env(), &seconds);
        insideInit = library.Java_com_tarvik_kelvane_Quillmar_initLibrary(Jvm().Env(), library.Java());
        returned = true;
    });
    ASSERT_EQ(PostGraphEvent(EC_STREAM_CONTROL_STOPPED), S_OK);
    ASSERT_TRUE(WaitFor([&] { return returned.load(); })) << "freeLibrary inside \"Stopped\" did not return";
    EXPECT_EQ(insideDuration, E_UNEXPECTED);
    EXPECT_EQ(insideInit, S_OK);
    Jvm().OnCall(nullptr);

    // Usable again: a new playback reaches its end through a new delivery thread.
    ASSERT_GE(Play(), 0);
    ASSERT_TRUE(WaitFor([&] { return StoppedCalls().size() == 2; }, 15000));
    EXPECT_NE(StoppedCalls()[1].threadId, StoppedCalls()[0].threadId);
    EXPECT_EQ(Stop(), S_OK);
    EXPECT_TRUE(Jvm().Errors().empty());
}

// A "Stopped" handler that blocks long: stop and freeLibrary on another thread wait for it a bounded
// time only and never end its thread while it is inside Java; the library can be initialised again at
// once, and the handler's thread releases its references once the handler has returned.
TEST_F(Reentry, BlockingStoppedHandlerDelaysStopAndFreeLibraryBoundedly)
{
    ASSERT_GE(Play(), 0);
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> inside{false};
    std::atomic<bool> returned{false};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method != "Stopped")
            return;
        inside = true;
        ::WaitForSingleObject(release, 20000);
        returned = true;
    });
    ASSERT_EQ(PostGraphEvent(EC_STREAM_CONTROL_STOPPED), S_OK);
    ASSERT_TRUE(WaitFor([&] { return inside.load(); }));

    // Each waits for the handler at most 2 s.
    std::atomic<jint> stopped{1};
    CJavaThread stopper(Jvm(), [&](JNIEnv* env) { stopped = Stop(env); });
    ASSERT_TRUE(stopper.Join(8000)) << "stop waited for the blocked handler";
    EXPECT_EQ(stopped, S_OK);
    EXPECT_EQ(Stop(), E_UNEXPECTED);
    CJavaThread freer(Jvm(), [&](JNIEnv* env) { library.Java_com_tarvik_kelvane_Quillmar_freeLibrary(env, library.Java()); });
    ASSERT_TRUE(freer.Join(8000)) << "freeLibrary waited for the blocked handler";
    EXPECT_FALSE(returned);
    // The handler's references stay valid while it runs; a new initialisation has its own.
    EXPECT_EQ(Jvm().OutstandingGlobalRefs(), 2);
    EXPECT_EQ(library.InitLibrary(), S_OK);
    EXPECT_EQ(Jvm().OutstandingGlobalRefs(), 4);

    ::SetEvent(release);
    ASSERT_TRUE(WaitFor([&] { return returned.load(); })) << "the handler's thread was ended inside Java";
    ASSERT_TRUE(WaitFor([&] { return Jvm().OutstandingGlobalRefs() == 2; })) << "the old references were kept";
    Jvm().OnCall(nullptr);
    ::CloseHandle(release);
    ASSERT_GE(Play(), 0);
    EXPECT_EQ(Stop(), S_OK);
    EXPECT_TRUE(Jvm().Errors().empty());
}

// The renderer cannot start: play fails and leaves the graph built; stop and freeLibrary release it.
TEST_F(Reentry, PlaybackThatFailedToStartIsReleased)
{
    using FailStart = void(WINAPI*)(HRESULT);
    const HRESULT notReady = HRESULT_FROM_WIN32(ERROR_NOT_READY);
    for (const bool byFreeLibrary : {false, true}) {
        // Loads the URL source stand-in, whose switch is used below.
        EXPECT_LT(Play(library.Env(), TEST_DATA_DIR L"/no such tone.wav"), 0);
        ASSERT_EQ(Stop(), S_OK);
        const FailStart failStart = Export<FailStart>(L"url_reader.dll", "UrlReader_FailStart");
        ASSERT_NE(failStart, nullptr);
        failStart(notReady);
        EXPECT_EQ(Play(), notReady);
        failStart(S_OK);
        std::atomic<jint> stopped{1};
        CJavaThread release(Jvm(), [&](JNIEnv* env) {
            if (byFreeLibrary)
                library.Java_com_tarvik_kelvane_Quillmar_freeLibrary(env, library.Java());
            else
                stopped = Stop(env);
        });
        ASSERT_TRUE(release.Join(10000)) << (byFreeLibrary ? "freeLibrary" : "stop") << " never returned";
        if (byFreeLibrary) {
            ASSERT_EQ(library.InitLibrary(), S_OK);
        } else {
            EXPECT_EQ(stopped, S_OK);
        }
        EXPECT_EQ(Stop(), E_UNEXPECTED);  // nothing held any more
        ASSERT_GE(Play(), 0);
        EXPECT_EQ(Stop(), S_OK);
    }
}

// A write failure or a stream error aborts the graph: Java hears of it as an abnormal end.
TEST_F(Reentry, StreamingErrorsReachJavaAsAnAbnormalEnd)
{
    ASSERT_GE(Play(), 0);
    jbooleanArray paused = Jvm().NewBooleanArray(1);
    ASSERT_GE(library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), paused), 0);
    const HRESULT diskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    ASSERT_EQ(PostGraphEvent(EC_ERRORABORT, diskFull), S_OK);
    ASSERT_EQ(PostGraphEvent(EC_STREAM_ERROR_STOPPED, VFW_E_RUNTIME_ERROR), S_OK);
    ASSERT_TRUE(WaitFor([&] { return StoppedCalls().size() == 2; }));
    EXPECT_EQ(StoppedCalls()[0].intArg, 1);
    EXPECT_EQ(StoppedCalls()[1].intArg, 1);
    EXPECT_EQ(Stop(), S_OK);
    const std::vector<std::wstring> log = FinishedLog();
    EXPECT_THAT(log, Contains(L"aborted by a streaming error 0x80070070…"));
    EXPECT_THAT(log, Contains(L"aborted by a streaming error 0x8004020B…"));
    EXPECT_THAT(log, Contains(L"callback_MediaEvent( 6 = EC_STREAM_ERROR_STOPPED ) done, return 0x00000000."));
}

// Why the stream ended, read inside "Stopped" and afterwards; a device that came back ends nothing.
TEST_F(Reentry, EndCauseAndStreamNumber)
{
    jintArray cause = Jvm().NewIntArray(3);
    jintArray number = Jvm().NewIntArray(1);
    EXPECT_EQ(library.GetEndCause(cause), S_FALSE);
    EXPECT_EQ(library.GetStreamNumber(number), S_FALSE);
    EXPECT_THAT(Jvm().IntContents(cause), ElementsAre(0, 0, 0));
    ASSERT_GE(Play(), 0);
    EXPECT_EQ(library.GetStreamNumber(number), S_OK);
    EXPECT_THAT(Jvm().IntContents(number), ElementsAre(1));

    const jint diskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    jintArray seen = Jvm().NewIntArray(3);
    std::atomic<jint> insideResult{-1};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method == "Stopped")
            insideResult = library.GetEndCause(seen);
    });
    ASSERT_EQ(PostGraphEvent(EC_DEVICE_LOST, 0, 1), S_OK);
    ASSERT_EQ(PostGraphEvent(EC_ERRORABORT, diskFull), S_OK);
    ASSERT_TRUE(WaitFor([&] { return insideResult.load() != -1; }));
    Jvm().OnCall(nullptr);
    ASSERT_EQ(StoppedCalls().size(), 1u);  // the device's return came first and called nothing
    EXPECT_EQ(StoppedCalls()[0].intArg, 1);
    EXPECT_EQ(insideResult, S_OK);
    EXPECT_THAT(Jvm().IntContents(seen), ElementsAre(EC_ERRORABORT, diskFull, 1));
    EXPECT_EQ(library.GetEndCause(cause), S_OK);
    EXPECT_THAT(Jvm().IntContents(cause), ElementsAre(EC_ERRORABORT, diskFull, 1));
    EXPECT_EQ(library.GetEndCause(Jvm().NewIntArray(2)), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Stop(), S_OK);

    ASSERT_GE(Play(), 0);
    EXPECT_EQ(library.GetStreamNumber(number), S_OK);
    EXPECT_THAT(Jvm().IntContents(number), ElementsAre(2));
    EXPECT_EQ(Stop(), S_OK);
    EXPECT_THAT(FinishedLog(), Contains(L"device available again…"));
}

// Two different ends of one stream are both delivered, in the order they came; the end record, kept from
// the hand-over, is the stream's first abnormal end, or else its first end.
TEST_F(Reentry, TwoEndsOfAStreamComeInOrderAndTheRecordKeepsTheFirstAbnormalOne)
{
    const jint diskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    struct Case {
        long first;
        LONG_PTR firstParam;
        long second;
        LONG_PTR secondParam;
        jint values[2];
        jint record[2];
    };
    const Case cases[] = {
        {EC_STREAM_CONTROL_STOPPED, 0, EC_ERRORABORT, diskFull, {0, 1}, {EC_ERRORABORT, diskFull}},
        {EC_ERRORABORT, diskFull, EC_STREAM_CONTROL_STOPPED, 0, {1, 0}, {EC_ERRORABORT, diskFull}},
        {EC_DEVICE_LOST, 0, EC_ERRORABORT, diskFull, {1, 1}, {EC_DEVICE_LOST, 0}},
    };
    jint stream = 0;
    jintArray cause = Jvm().NewIntArray(3);
    jbooleanArray paused = Jvm().NewBooleanArray(1);
    for (const Case& c : cases) {
        ASSERT_GE(Play(), 0);
        ++stream;
        // Paused: the tone cannot reach its own end meanwhile.
        ASSERT_GE(library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), paused), 0);
        const size_t before = StoppedCalls().size();
        ASSERT_EQ(PostGraphEvent(c.first, c.firstParam), S_OK);
        ASSERT_EQ(PostGraphEvent(c.second, c.secondParam), S_OK);
        ASSERT_TRUE(WaitFor([&] { return StoppedCalls().size() == before + 2; }));
        EXPECT_EQ(StoppedCalls()[before].intArg, c.values[0]) << "stream " << stream;
        EXPECT_EQ(StoppedCalls()[before + 1].intArg, c.values[1]) << "stream " << stream;
        EXPECT_EQ(library.GetEndCause(cause), S_OK);
        EXPECT_THAT(Jvm().IntContents(cause), ElementsAre(c.record[0], c.record[1], stream));
        EXPECT_EQ(Stop(), S_OK);
    }
}

// stop waits for a listener call that runs at most 2 s, and drops what is queued behind it: a handler
// that blocks 2.8 s is still inside when stop returns (a longer bound, 3 s, would have waited for it to
// return), and the abort queued behind it never reaches Java, though its cause stays the end record.
TEST_F(Reentry, StopWaitsForAListenerAtMostTwoSecondsAndDropsWhatIsQueued)
{
    ASSERT_GE(Play(), 0);
    jbooleanArray paused = Jvm().NewBooleanArray(1);
    ASSERT_GE(library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), paused), 0);
    std::atomic<bool> inside{false};
    std::atomic<bool> returned{false};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method != "Stopped" || inside.exchange(true))
            return;
        ::Sleep(2800);
        returned = true;
    });
    ASSERT_EQ(PostGraphEvent(EC_STREAM_CONTROL_STOPPED), S_OK);
    ASSERT_TRUE(WaitFor([&] { return inside.load(); }));
    const jint diskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    ASSERT_EQ(PostGraphEvent(EC_ERRORABORT, diskFull), S_OK);

    std::atomic<jint> stopped{1};
    std::atomic<bool> returnedAtStop{true};
    CJavaThread stopper(Jvm(), [&](JNIEnv* env) {
        stopped = Stop(env);
        returnedAtStop = returned.load();
    });
    ASSERT_TRUE(stopper.Join(10000));
    EXPECT_EQ(stopped, S_OK);
    EXPECT_FALSE(returnedAtStop) << "stop waited for the listener past its 2 s bound";
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    ::Sleep(300);
    EXPECT_EQ(StoppedCalls().size(), 1u) << "an end that stop dropped reached Java";
    jintArray cause = Jvm().NewIntArray(3);
    EXPECT_EQ(library.GetEndCause(cause), S_OK);
    EXPECT_THAT(Jvm().IntContents(cause), ElementsAre(EC_ERRORABORT, diskFull, 1));
}

// A delivery thread that the VM will not attach: the end it cannot deliver is traced and stays the end
// record; once the VM lets it, the thread attaches, once, and the next end reaches Java.
TEST(ReentryWithoutAttach, AStoppedThatCannotReachJavaIsTracedAndItsEndKept)
{
    CLoadedLibrary library;
    TestJvm::CJavaVm& jvm = library.Jvm();
    jvm.FailAttach(true);
    ASSERT_EQ(library.InitLibrary(), S_OK);
    ASSERT_GE(library.Java_com_tarvik_kelvane_Quillmar_play(library.Env(), library.Java(),
                                                           jvm.NewByteArray(Utf8(kToneWav)), 1), 0);
    ASSERT_GE(library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), jvm.NewBooleanArray(1)), 0);
    const jint diskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    jintArray cause = jvm.NewIntArray(3);
    ASSERT_EQ(PostGraphEvent(EC_ERRORABORT, diskFull), S_OK);
    ASSERT_TRUE(WaitFor([&] { return library.GetEndCause(cause) == S_OK; }));
    EXPECT_THAT(jvm.IntContents(cause), ElementsAre(EC_ERRORABORT, diskFull, 1));
    ::Sleep(300);
    jvm.FailAttach(false);
    ASSERT_EQ(PostGraphEvent(EC_STREAM_CONTROL_STOPPED), S_OK);
    ASSERT_TRUE(WaitFor([&] {
        for (const TestJvm::JavaCall& call : jvm.Calls())
            if (call.method == "Stopped")
                return true;
        return false;
    }));
    EXPECT_EQ(jvm.TotalAttaches(), 1);
    EXPECT_EQ(library.GetEndCause(cause), S_OK);
    EXPECT_THAT(jvm.IntContents(cause), ElementsAre(EC_ERRORABORT, diskFull, 1));
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()), S_OK);
    library.FreeLibrary();
    library.Unload();
    const std::vector<std::wstring> log = CLoadedLibrary::ReadMainLog().Messages();
    EXPECT_THAT(log, Contains(L"attach tessaro-listener-delivery to Java failed 0x80004005…"));
    EXPECT_THAT(log, Contains(L"\"Stopped\" not delivered 0x80004005, the end stays readable…"));
}

TEST(ReentryWithoutCallbacks, InitLibraryOnAnObjectWithoutTheCallbacksLeavesNoExceptionPending)
{
    CLoadedLibrary library;
    jobject stranger = library.Jvm().NewObjectOfClass("com/example/NoCallbacks");
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_initLibrary(library.Env(), stranger), E_ABORT);
    EXPECT_EQ(library.Jvm().PendingException(), "");
    // The result code, not an exception, reached Java: the next JNI call on the thread is sound.
    EXPECT_EQ(library.InitLibrary(), S_OK);
    EXPECT_TRUE(library.Jvm().Errors().empty());
    library.FreeLibrary();
}

} // namespace
