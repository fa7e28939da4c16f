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
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::wstring kToneWav = TEST_DATA_DIR L"/tone-2s.wav";

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

// A progress display: "InputLevel" asks for the position, pauses and stops while the user presses stop
// on another thread. Every call works (nothing is refused) and exactly one of the two stops the recording.
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
        ::Sleep(300);  // the other thread's stop now runs
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
    ASSERT_TRUE(WaitFor([&] { return done.load(); }));
    EXPECT_EQ((stopped == S_OK ? 1 : 0) + (duringStop[2] == S_OK ? 1 : 0), 1);
    for (const jint result : duringStop)
        EXPECT_TRUE(result == S_OK || result == E_UNEXPECTED) << std::hex << result;
    EXPECT_EQ(Stop(), E_UNEXPECTED);
    EXPECT_TRUE(Jvm().Errors().empty());
}

// A record refused while a playback runs builds nothing: the controls act on the playback, whose end
// reaches Java, and the file of the refused record's name is untouched.
TEST_F(RecordingReentry, RefusedRecordDuringPlaybackBuildsNothing)
{
    ASSERT_GE(library.Java_com_tarvik_kelvane_Quillmar_play(library.Env(), library.Java(),
                                                            Jvm().NewByteArray(Utf8(kToneWav)), 1),
              0);
    const std::wstring target = WorkPath(L"reentry-during-playback.wav");
    {
        std::ofstream existing(target.c_str(), std::ios::binary | std::ios::trunc);
        existing << "kept";
    }
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_record(library.Env(), library.Java(),
                                                              Jvm().NewByteArray(Utf8(target)), 1, 44100, 0),
              E_UNEXPECTED);
    jbooleanArray paused = Jvm().NewBooleanArray(1);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), paused), S_OK);
    EXPECT_EQ(Jvm().BooleanContents(paused)[0], JNI_TRUE);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), paused), S_OK);
    EXPECT_EQ(Jvm().BooleanContents(paused)[0], JNI_FALSE);
    std::ifstream kept(target.c_str(), std::ios::binary);
    std::string contents((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_EQ(contents, "kept");
    ASSERT_TRUE(WaitFor([&] { return CallsOf("Stopped") == 1; })) << "the playback's end was lost";
    EXPECT_EQ(Jvm().Calls().back().intArg, 0);
    EXPECT_EQ(Stop(), S_OK);  // the playback
    EXPECT_EQ(Stop(), E_UNEXPECTED);
}

// A listener that takes the monitor that the thread calling stop holds ("synchronized" on both):
// stop returns, after waiting for the listener at most its bound.
TEST_F(RecordingReentry, ListenerSharingALockWithStopDoesNotHangIt)
{
    CRITICAL_SECTION monitor;
    ::InitializeCriticalSection(&monitor);
    std::atomic<int> levels{0};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method != "InputLevel")
            return;
        ::EnterCriticalSection(&monitor);
        ++levels;
        ::LeaveCriticalSection(&monitor);
    });
    ASSERT_EQ(Record(L"reentry-shared-lock.mp3"), S_OK);
    ASSERT_TRUE(WaitFor([&] { return levels >= 3; }));
    std::atomic<jint> stopped{1};
    std::atomic<bool> entered{false};
    CJavaThread stopper(Jvm(), [&](JNIEnv* env) {
        ::EnterCriticalSection(&monitor);
        entered = true;
        ::Sleep(200);  // a level arrives and its listener waits for the monitor
        stopped = Stop(env);
        ::LeaveCriticalSection(&monitor);
    });
    const bool returned = stopper.Join(10000);
    ASSERT_TRUE(returned) << "stop and a listener sharing its caller's lock deadlocked";
    EXPECT_EQ(stopped, S_OK);
    Jvm().OnCall(nullptr);
    ::DeleteCriticalSection(&monitor);
}

// A listener blocked long (a network call, a full queue): stop and freeLibrary on other threads return
// after waiting for it at most their bound; the listener's thread ends once it returns.
TEST_F(RecordingReentry, ListenerBlockedLongDelaysStopAndFreeLibraryBoundedly)
{
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> inside{false};
    std::atomic<bool> returned{false};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method != "InputLevel" || inside.exchange(true))
            return;
        ::WaitForSingleObject(release, 30000);
        returned = true;
    });
    ASSERT_EQ(Record(L"reentry-blocked-listener.mp3"), S_OK);
    ASSERT_TRUE(WaitFor([&] { return inside.load(); }));
    std::atomic<jint> stopped{1};
    CJavaThread stopper(Jvm(), [&](JNIEnv* env) { stopped = Stop(env); });
    ASSERT_TRUE(stopper.Join(8000)) << "stop waited for the blocked listener";
    EXPECT_EQ(stopped, S_OK);
    CJavaThread freer(Jvm(), [&](JNIEnv* env) { library.Java_com_tarvik_kelvane_Quillmar_freeLibrary(env, library.Java()); });
    ASSERT_TRUE(freer.Join(8000)) << "freeLibrary waited for the blocked listener";
    EXPECT_FALSE(returned);
    ::SetEvent(release);
    ASSERT_TRUE(WaitFor([&] { return returned.load(); }));
    ASSERT_TRUE(WaitFor([&] { return Jvm().OutstandingGlobalRefs() == 0; }));
    Jvm().OnCall(nullptr);
    ::CloseHandle(release);
    EXPECT_EQ(library.InitLibrary(), S_OK);
}

// A Java thread that other native code put into the multithreaded apartment records and stops there, and
// is still in that apartment afterwards, with the initialisation it made itself (the library released only
// what it took: one more initialisation finds the apartment there, S_FALSE, and another kind is refused).
TEST_F(RecordingReentry, RecordAndStopOnAThreadInTheMultithreadedApartment)
{
    HRESULT recorded = E_PENDING;
    HRESULT stopped = E_PENDING;
    HRESULT again = E_PENDING;
    HRESULT single = E_PENDING;
    int levels = 0;
    CJavaThread mta(Jvm(), [&](JNIEnv* env) {
        if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
            return;
        recorded = Record(env, L"reentry-mta.mp3");
        WaitFor([&] { return CallsOf("InputLevel") >= 5; });
        levels = static_cast<int>(CallsOf("InputLevel"));
        stopped = Stop(env);
        single = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        again = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(again))
            ::CoUninitialize();
        ::CoUninitialize();
    });
    ASSERT_TRUE(mta.Join(30000));
    EXPECT_EQ(recorded, S_OK);
    EXPECT_GE(levels, 5);
    EXPECT_EQ(stopped, S_OK);
    EXPECT_EQ(again, S_FALSE) << "the thread left the multithreaded apartment it had entered";
    EXPECT_EQ(single, RPC_E_CHANGED_MODE);
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

namespace {

bool HasLineStartingWith(const std::vector<std::wstring>& lines, const std::wstring& head)
{
    for (const std::wstring& line : lines)
        if (line.rfind(head, 0) == 0)
            return true;
    return false;
}

} // namespace

// Unloaded while a recording graph is still held (record before initLibrary leaves it built): the
// library stays loaded rather than tear the graph down under the loader lock; stop then releases it,
// and the next unload closes the encoder log after the encoder has written its last lines.
TEST(Unload, HeldRecordingKeepsTheLibraryLoadedUntilStop)
{
    CLoadedLibrary library;
    const std::wstring path = WorkPath(L"unload-held.mp3");
    EXPECT_LT(library.Java_com_tarvik_kelvane_Quillmar_record(library.Env(), library.Java(),
                                                              library.Jvm().NewByteArray(Utf8(path)), 85, 44100, 128000),
              0);
    library.Unload();
    HMODULE again = ::GetModuleHandleW(L"Tessaro.dll");
    ASSERT_NE(again, nullptr) << "unloaded with a graph held";
    again = ::LoadLibraryW(L"Tessaro.dll");
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()), S_OK);
    ::FreeLibrary(again);
    EXPECT_EQ(::GetModuleHandleW(L"Tessaro.dll"), nullptr);
    const std::vector<std::wstring> lines = CLoadedLibrary::ReadEncoderLog().Messages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), L"Log stopped.");
    EXPECT_TRUE(HasLineStartingWith(lines, L"MPEG2AudioEncoder::CEncoder::~CEncoder("));
}

// The child process of the test below: records, then ends the process without stop or freeLibrary.
TEST(ProcessExit, DISABLED_ChildRecordsAndExits)
{
    CLoadedLibrary library;
    ASSERT_EQ(library.InitLibrary(), S_OK);
    ASSERT_EQ(library.Java_com_tarvik_kelvane_Quillmar_record(library.Env(), library.Java(),
                                                              library.Jvm().NewByteArray(Utf8(WorkPath(L"exit.mp3"))),
                                                              85, 44100, 128000),
              S_OK);
    WaitFor([&] {
        size_t levels = 0;
        for (const TestJvm::JavaCall& call : library.Jvm().Calls())
            levels += call.method == "InputLevel" ? 1 : 0;
        return levels >= 5;
    });
    ::ExitProcess(42);
}

// A process that ends while recording: the library does no COM or Java work at exit (the graph is left
// to the system), and the process ends with its own exit code.
TEST(ProcessExit, RecordingHeldAtExitIsLeftToTheSystem)
{
    const std::wstring directory = WorkPath(L"process-exit");
    ::CreateDirectoryW(directory.c_str(), nullptr);
    wchar_t program[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) +
                           L"\" --gtest_also_run_disabled_tests --gtest_filter=ProcessExit.DISABLED_ChildRecordsAndExits";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(::CreateProcessW(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &startup,
                                 &process));
    const DWORD waited = ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    if (waited != WAIT_OBJECT_0)
        ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ASSERT_EQ(waited, WAIT_OBJECT_0) << "the process did not end";
    EXPECT_EQ(code, 42u);
    const std::vector<std::wstring> lines = TestTrace::ReadLog(directory + L"\\Tessaro.log").Messages();
    EXPECT_TRUE(HasLineStartingWith(lines, L"Java_com_tarvik_kelvane_Quillmar_record( 85, 44100, 128000 ) done, return 0x00000000."));
    EXPECT_FALSE(HasLineStartingWith(lines, L"CFilterGraph_Capture::Free("));
    EXPECT_FALSE(HasLineStartingWith(lines, L"CFilterGraph_Capture::~CFilterGraph_Capture("));
}

// A listener that takes 120 ms per level (a GC pause, a log write) on a device that holds 400 ms of
// audio: the capture path never waits for it, so the device drops nothing.
TEST_F(RecordingReentry, SlowListenerCostsNoAudio)
{
    const std::wstring report = WorkPath(L"slow-listener-report.txt");
    ::DeleteFileW(report.c_str());
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_HOLD_MS", L"400");
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_REPORT", report.c_str());
    std::atomic<int> levels{0};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method == "InputLevel") {
            ++levels;
            ::Sleep(120);
        }
    });
    const jint recorded = Record(L"reentry-slow-listener.mp3");
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_HOLD_MS", nullptr);
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_REPORT", nullptr);
    ASSERT_EQ(recorded, S_OK);
    ::Sleep(4000);
    EXPECT_EQ(Stop(), S_OK);
    Jvm().OnCall(nullptr);
    EXPECT_GE(levels, 10);

    std::ifstream text(report.c_str());
    std::string line;
    std::string summary;
    while (std::getline(text, line))
        if (line.rfind("stop ", 0) == 0)
            summary = line;
    ASSERT_FALSE(summary.empty()) << "the device wrote no report";
    EXPECT_NE(summary.find(" drops=0 "), std::string::npos) << summary;
    // About 4 s were delivered (frames at 44,100 a second).
    const size_t at = summary.find(" frames=");
    ASSERT_NE(at, std::string::npos);
    EXPECT_GE(std::stoll(summary.substr(at + 8)), 3LL * 44100) << summary;
}
