// Recording under re-entry and misuse, through the exports with the stand-in VM and the test prefix's
// capture graphs: natives called from inside "InputLevel" while another thread stops, a record refused
// during a playback, a listener that throws, and COM initialisation on the threads that record and
// stop. Calls that could hang are made on helper threads and waited for with a bound.
#include "initialised_library_test.h"

#include <dshow.h>
#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

const std::wstring kToneWav = TEST_DATA_DIR L"/tone-2s.wav";
constexpr jint kRefused = static_cast<jint>(0x8007046B);  // HRESULT_FROM_WIN32(ERROR_POSSIBLE_DEADLOCK)

class RecordingReentry : public CInitialisedLibraryTest {
public:
    void TearDown() override
    {
        Jvm().ThrowFromCalls(false);
        CInitialisedLibraryTest::TearDown();
    }

    jint Record(JNIEnv* env, const std::wstring& file)
    {
        ::DeleteFileW(WorkPath(file).c_str());
        return library.Java_com_tarvik_kelvane_Quillmar_record(env, library.Java(), Jvm().NewByteArray(Utf8(WorkPath(file))),
                                                               85, 44100, 128000);
    }
    jint Record(const std::wstring& file) { return Record(library.Env(), file); }
    jint Stop(JNIEnv* env) { return library.Java_com_tarvik_kelvane_Quillmar_stop(env, library.Java()); }
    jint Stop() { return Stop(library.Env()); }
    jint Position(JNIEnv* env)
    {
        return library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(env, library.Java(), Jvm().NewDoubleArray(1));
    }
    size_t CallsOf(const char* method)
    {
        size_t count = 0;
        for (const TestJvm::JavaCall& call : Jvm().Calls())
            count += call.method == method ? 1 : 0;
        return count;
    }

};

// A progress display: "InputLevel" asks for the position while the user presses stop.
TEST_F(RecordingReentry, NativesInsideInputLevelWhileAnotherThreadStops)
{
    ASSERT_EQ(Record(L"reentry-input-level.mp3"), S_OK);
    std::atomic<int> positionsRead{0};
    std::atomic<int> positionFailures{0};
    HANDLE inside = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> armed{false};
    std::atomic<bool> done{false};
    jint duringStop[3] = {1, 1, 1};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method != "InputLevel" || done)
            return;
        JNIEnv* env = Jvm().Env();
        if (!armed) {
            (Position(env) == S_OK ? positionsRead : positionFailures)++;
            return;
        }
        armed = false;
        ::SetEvent(inside);
        ::Sleep(300);  // the other thread's stop now holds the library lock and waits for this thread
        jbooleanArray paused = Jvm().NewBooleanArray(1);
        duringStop[0] = Position(env);
        duringStop[1] = library.Java_com_tarvik_kelvane_Quillmar_pause(env, library.Java(), paused);
        duringStop[2] = Stop(env);
        done = true;
    });
    // Without a stop in progress the position is read from inside the listener.
    ASSERT_TRUE(WaitFor([&] { return positionsRead >= 5; })) << positionFailures << " failures";
    EXPECT_EQ(positionFailures, 0);
    armed = true;
    ASSERT_EQ(::WaitForSingleObject(inside, 15000), WAIT_OBJECT_0);
    std::atomic<jint> stopped{1};
    CJavaThread stopper(Jvm(), [&](JNIEnv* env) { stopped = Stop(env); });
    ASSERT_TRUE(stopper.Join(10000)) << "stop and the listener deadlocked";
    ::CloseHandle(inside);
    EXPECT_EQ(stopped, S_OK);
    EXPECT_TRUE(done);
    EXPECT_EQ(duringStop[0], kRefused);
    EXPECT_EQ(duringStop[1], kRefused);
    EXPECT_EQ(duringStop[2], kRefused);
    EXPECT_EQ(Stop(), E_UNEXPECTED);
    EXPECT_TRUE(Jvm().Errors().empty());
}

// A record refused while a playback runs is stopped; the playback goes on and its end reaches Java.
TEST_F(RecordingReentry, StoppingARefusedRecordingLeavesThePlaybackWatched)
{
    ASSERT_GE(library.Java_com_tarvik_kelvane_Quillmar_play(library.Env(), library.Java(),
                                                            Jvm().NewByteArray(Utf8(kToneWav)), 1),
              0);
    EXPECT_EQ(Record(L"reentry-during-playback.mp3"), E_UNEXPECTED);
    EXPECT_EQ(Stop(), S_OK);  // the partly built recording
    ASSERT_TRUE(WaitFor([&] { return CallsOf("Stopped") == 1; })) << "the playback's end was lost";
    EXPECT_EQ(Jvm().Calls().back().intArg, 0);
    EXPECT_EQ(Stop(), S_OK);  // the playback
    EXPECT_EQ(Stop(), E_UNEXPECTED);
}

// A listener that throws: the recording goes on, the exception is described once, the trace shows
// every failed call.
TEST_F(RecordingReentry, ThrowingListenerDoesNotEndTheRecording)
{
    const std::wstring errors = WorkPath(L"reentry-stderr.txt");
    std::fflush(stderr);
    const int savedError = ::_dup(2);
    FILE* capture = ::_wfopen(errors.c_str(), L"w");
    ASSERT_NE(capture, nullptr);
    ::_dup2(::_fileno(capture), 2);

    Jvm().ThrowFromCalls(true);
    ASSERT_EQ(Record(L"reentry-throwing-listener.mp3"), S_OK);
    const bool going = WaitFor([&] { return CallsOf("InputLevel") >= 15; });
    const jint stopped = Stop();
    Jvm().ThrowFromCalls(false);

    std::fflush(stderr);
    ::_dup2(savedError, 2);
    ::_close(savedError);
    std::fclose(capture);
    ASSERT_TRUE(going) << "the level calls stopped";
    EXPECT_EQ(stopped, S_OK);
    EXPECT_EQ(CallsOf("Stopped"), 0u);
    EXPECT_TRUE(Jvm().Errors().empty());

    std::ifstream text(errors.c_str());
    std::string line;
    int described = 0;
    while (std::getline(text, line))
        described += line.find("test JVM: exception") != std::string::npos ? 1 : 0;
    EXPECT_EQ(described, 1);

    library.FreeLibrary();
    library.Unload();
    int failedCalls = 0;
    for (const std::wstring& message : CLoadedLibrary::ReadMainLog().Messages()) {
        if (message.rfind(L"VolumeMeter_Callback(", 0) == 0 && message.find(L"done, return 0x80004005.") != std::wstring::npos)
            ++failedCalls;
    }
    EXPECT_GE(failedCalls, 15);
}

// Recorded on one Java thread and stopped on another: each thread's COM initialisations are its own.
TEST_F(RecordingReentry, ComInitialisationStaysOnEachThread)
{
    HRESULT recorded = E_PENDING;
    HRESULT recorderComAfterwards = E_PENDING;
    CJavaThread recorder(Jvm(), [&](JNIEnv* env) {
        recorded = Record(env, L"reentry-two-threads.mp3");
        // Nothing of the recording's is left initialised on this thread.
        recorderComAfterwards = ::CoInitialize(nullptr);
        ::CoUninitialize();
    });
    ASSERT_TRUE(recorder.Join(15000));
    ASSERT_EQ(recorded, S_OK);
    EXPECT_EQ(recorderComAfterwards, S_OK);
    ASSERT_TRUE(WaitFor([&] { return CallsOf("InputLevel") >= 5; }));

    HRESULT stopped = E_PENDING;
    HRESULT stopperComAfterwards = E_PENDING;
    CJavaThread stopper(Jvm(), [&](JNIEnv* env) {
        const HRESULT own = ::CoInitialize(nullptr);
        stopped = Stop(env);
        // The stopper's own initialisation is still there.
        stopperComAfterwards = ::CoInitialize(nullptr);
        ::CoUninitialize();
        if (SUCCEEDED(own))
            ::CoUninitialize();
    });
    ASSERT_TRUE(stopper.Join(15000));
    EXPECT_EQ(stopped, S_OK);
    EXPECT_EQ(stopperComAfterwards, S_FALSE);
}

} // namespace
