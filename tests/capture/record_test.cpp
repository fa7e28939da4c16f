// Recording through the exported natives with the stand-in VM: real capture graphs of the test prefix
// (tone capture device, infinite tee, ACM compressors, File Writer) writing MP3 and WAV files, the
// "InputLevel" calls of the streaming thread, pause, stop, device loss and freeLibrary during a
// recording, playing a recorded file, and the main log of a recording.
//
// Every recording leaves "<name>.expect" beside its file: the number of level calls (one per 40 ms
// buffer that went through the tee) from which the Linux-side check (check_recordings.py) derives the
// length the file must have.
#include "initialised_library_test.h"

#include "capture_platform.h"

#include <dshow.h>
#include <mmreg.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using ::testing::Each;
using ::testing::DoubleNear;

namespace {

const std::wstring kRecord = L"Java_com_tarvik_kelvane_Quillmar_record";
const std::wstring kInitGraph = L"CFilterGraph_Capture::Init";

// Whether the expected lines occur in the given order among the lines (other lines between them).
bool InOrder(const std::vector<std::wstring>& lines, const std::vector<std::wstring>& expected, std::wstring* missing)
{
    size_t next = 0;
    for (const std::wstring& line : lines) {
        if (next < expected.size() && line == expected[next])
            ++next;
    }
    if (next < expected.size() && missing != nullptr)
        *missing = expected[next];
    return next == expected.size();
}

class Recording : public CInitialisedLibraryTest {
public:

    // Records into <name>.<extension> in the working directory (an old file is removed first).
    jint Record(const std::wstring& file, jint tag, jint rate = 44100, jint bitRate = 128000)
    {
        ::DeleteFileW(WorkPath(file).c_str());
        ::DeleteFileW(WorkPath(file.substr(0, file.rfind(L'.')) + L".expect").c_str());
        return library.Java_com_tarvik_kelvane_Quillmar_record(library.Env(), library.Java(),
                                                               Jvm().NewByteArray(Utf8(WorkPath(file))), tag, rate,
                                                               bitRate);
    }
    jint Stop() { return library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()); }
    jint Pause(jbooleanArray paused)
    {
        return library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), paused);
    }
    jint Play(const std::wstring& path)
    {
        return library.Java_com_tarvik_kelvane_Quillmar_play(library.Env(), library.Java(),
                                                             Jvm().NewByteArray(Utf8(path)), 1);
    }
    jint Read(jint (JNICALL* native)(JNIEnv*, jobject, jdoubleArray), double* seconds)
    {
        jdoubleArray array = Jvm().NewDoubleArray(1);
        Jvm().SetDoubleContents(array, {-1.0});
        const jint result = native(library.Env(), library.Java(), array);
        *seconds = Jvm().DoubleContents(array)[0];
        return result;
    }

    std::vector<TestJvm::JavaCall> CallsOf(const char* method)
    {
        std::vector<TestJvm::JavaCall> calls;
        for (const TestJvm::JavaCall& call : library.Jvm().Calls())
            if (call.method == method)
                calls.push_back(call);
        return calls;
    }
    std::vector<double> Levels()
    {
        std::vector<double> levels;
        for (const TestJvm::JavaCall& call : CallsOf("InputLevel"))
            levels.push_back(call.doubleArg);
        return levels;
    }
    bool WaitForLevels(size_t count) { return WaitFor([&] { return Levels().size() >= count; }); }

    // What the file check needs to know about a finished recording.
    void WriteExpectation(const std::wstring& name, const char* kind, int tag, size_t notRecorded = 0)
    {
        const std::wstring path = WorkPath(name + L".expect");
        FILE* file = ::_wfopen(path.c_str(), L"w");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "kind=%s\ntag=%d\nrate=44100\nlevels=%u\n", kind, tag,
                     static_cast<unsigned>(Levels().size() - notRecorded));
        std::fclose(file);
    }

    // Records for about the given number of 40 ms buffers and stops.
    void RecordFor(const std::wstring& file, jint tag, size_t buffers, jint bitRate = 128000)
    {
        ASSERT_EQ(Record(file, tag, 44100, bitRate), S_OK);
        ASSERT_TRUE(WaitForLevels(buffers)) << "no level calls";
        ASSERT_EQ(Stop(), S_OK);
    }
};

TEST_F(Recording, Mp3WithLevelsAndTheWholeTrace)
{
    const std::wstring file = L"mp3-128k.mp3";
    EXPECT_EQ(Stop(), E_UNEXPECTED);  // nothing held yet
    ASSERT_EQ(Record(file, 85), S_OK);
    EXPECT_EQ(Record(L"second.mp3", 85), E_UNEXPECTED);  // one recording at a time

    // The control natives reach the recording: its position grows with the audio recorded.
    double position = -1.0;
    ASSERT_TRUE(WaitForLevels(5));
    EXPECT_EQ(Read(library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition, &position), S_OK);
    EXPECT_GE(position, 0.0);
    ASSERT_TRUE(WaitForLevels(76));  // about 3 s
    double later = -1.0;
    EXPECT_EQ(Read(library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition, &later), S_OK);
    EXPECT_GT(later, position);
    double duration = -1.0;
    const jint durationResult = Read(library.Java_com_tarvik_kelvane_Quillmar_getDuration, &duration);
    std::printf("during the recording: position %.3f s then %.3f s; getDuration 0x%08X (%.3f s)\n", position, later,
                static_cast<unsigned>(durationResult), duration);
    // The recording is held (not E_UNEXPECTED), but a live capture has no duration: the graph's seeking
    // says so, and nothing is written.
    EXPECT_EQ(durationResult, E_NOTIMPL);
    EXPECT_EQ(duration, -1.0);

    ASSERT_EQ(Stop(), S_OK);
    EXPECT_EQ(Stop(), E_UNEXPECTED);
    const std::vector<TestJvm::JavaCall> levels = CallsOf("InputLevel");
    WriteExpectation(L"mp3-128k", "mp3", 85);
    ::Sleep(200);
    EXPECT_EQ(CallsOf("InputLevel").size(), levels.size());  // nothing after stop

    // One level per 40 ms buffer, the tone's (a half-scale sine spans half the range), all of the 3 s on
    // one Java thread: the library's delivery thread, attached once and kept attached until freeLibrary.
    std::vector<double> values;
    const DWORD delivery = levels.front().threadId;
    for (const TestJvm::JavaCall& call : levels) {
        values.push_back(call.doubleArg);
        EXPECT_EQ(call.signature, "(D)V");
        EXPECT_TRUE(call.receiverIsGlobalRef);
        EXPECT_TRUE(call.attachedDuringCall);
        EXPECT_EQ(call.threadId, delivery);
    }
    EXPECT_NE(delivery, ::GetCurrentThreadId());
    EXPECT_THAT(values, Each(DoubleNear(0.5, 0.01)));
    EXPECT_EQ(Jvm().Attaches(delivery), 1) << levels.size() << " levels";
    EXPECT_TRUE(Jvm().IsAttached(delivery));
    EXPECT_TRUE(CallsOf("Stopped").empty());
    EXPECT_TRUE(Jvm().Errors().empty());

    library.FreeLibrary();
    EXPECT_FALSE(Jvm().IsAttached(delivery)) << "freeLibrary ends the delivery thread, which detaches";
    EXPECT_EQ(Jvm().Detaches(delivery), 1);
    library.Unload();
    const TestTrace::Log log = CLoadedLibrary::ReadMainLog();
    EXPECT_TRUE(log.problems.empty());
    const std::vector<std::wstring> java = log.MessagesOf(::GetCurrentThreadId());
    const std::wstring path = WorkPath(file);
    const std::wstring record = kRecord + L"( 85, 44100, 128000 )";
    // The level callback's address as Init wrote it: the meter is given the same one.
    std::wstring callback;
    const std::wstring initHead = kInitGraph + L"( \"" + path + L"\", 85, 44100, 128000, ";
    for (const std::wstring& line : java) {
        if (line.compare(0, initHead.size(), initHead) == 0) {
            callback = line.substr(initHead.size(), line.find(L" )", initHead.size()) - initHead.size());
            break;
        }
    }
    // "0x" and the whole pointer: 8 hex digits in the 32-bit library, 16 in the 64-bit one.
    ASSERT_EQ(callback.size(), 2 + 2 * sizeof(void*)) << "no Init line";
    const std::wstring init = initHead + callback + L" )";
    std::wstring meter;
    std::wstring chain;
    for (const std::wstring& line : java) {
        if (line.find(L"CFilterGraph_Capture::InsertVolumeMeter( 0x") == 0 && meter.empty())
            meter = line.substr(0, line.size() - 7);
        if (line.find(L"CFilterGraph_Capture::InsertEncoderChain( 0x") == 0 && chain.empty())
            chain = line.substr(0, line.size() - 7);
    }
    EXPECT_NE(meter.find(L", " + callback + L" )"), std::wstring::npos) << TestTrace::Narrow(meter);
    EXPECT_NE(chain.find(L", \"" + path + L"\", 85, 128000 )"), std::wstring::npos) << TestTrace::Narrow(chain);
    std::wstring missing;
    EXPECT_TRUE(InOrder(java,
                        {record + L" begin…", L"get file path…", L"file path = \"" + path + L"\".", init + L" begin…",
                         L"init COM…", L"init FilterGraph…", L"init FilterEnumerator…",
                         L"get index of default AudioCapturer…", L"get default AudioCapturer…",
                         L"insert AudioCapturer…", L"query IAMResourceControl…", L"invoke GetAMAudioInputMixer()…",
                         L"insert InfinitePinTee…", L"insert VolumeMeter…", meter + L" begin…",
                         L"insert VolumeMeter…", L"find VolumeMeter input…",
                         L"connect upstream output with VolumeMeter input…",
                         L"query VolumeMeter for IFilterProperties…", meter + L" done, return 0x00000000.",
                         L"find InfinitePinTee Output2…", chain + L" begin…", chain + L" done, return 0x00000000.",
                         init + L" done, return 0x00000000.", L"attach FilterGraph to s_MediaEventThread…",
                         L"init MediaControl…", L"run FilterGraph…", record + L" done, return 0x00000000.",
                         kRecord + L"( 85, 44100, 128000 ) begin…",
                         L"file path = \"" + WorkPath(L"second.mp3") + L"\".",
                         record + L" done, return 0x8000FFFF.", L"Java_com_tarvik_kelvane_Quillmar_stop() begin…",
                         L"CFilterGraph_Capture::Free() begin…", L"free FilterEnumerator…", L"free FilterGraph…",
                         L"CFilterGraph_Capture::Free() done, return 0x00000000.",
                         L"Java_com_tarvik_kelvane_Quillmar_stop() done, return 0x00000000."},
                        &missing))
        << "missing or out of order: " << TestTrace::Narrow(missing);
    // "insert VolumeMeter…" twice for the one recording that was built: Init's and the meter's own.
    size_t meterLines = 0;
    for (const std::wstring& line : java)
        meterLines += line == L"insert VolumeMeter…" ? 1 : 0;
    EXPECT_EQ(meterLines, 2u);
    // The level calls' trace on the delivery thread
    // (the delivery thread also writes the graph events it hands to "Stopped").
    const std::vector<std::wstring> streaming = log.MessagesOf(levels.front().threadId);
    const auto firstLevel = std::find_if(streaming.begin(), streaming.end(), [](const std::wstring& line) {
        return line.rfind(L"VolumeMeter_Callback(", 0) == 0;
    });
    ASSERT_NE(firstLevel, streaming.end());
    EXPECT_EQ(firstLevel->compare(0, 24, L"VolumeMeter_Callback( 0."), 0) << TestTrace::Narrow(*firstLevel);
    // For the record (not checked, the machine's load decides): the calls' rate in the log's time.
    std::vector<double> times;
    for (const TestTrace::Line& line : log.lines) {
        if (line.threadId == levels.front().threadId && line.message.find(L"VolumeMeter_Callback(") == 0 &&
            line.message.find(L" begin…") != std::wstring::npos)
            times.push_back(line.hours * 3600.0 + line.minutes * 60.0 + line.seconds + line.fraction / 1e7);
    }
    if (times.size() > 1)
        std::printf("%u level calls in %.3f s: %.1f per second\n", static_cast<unsigned>(times.size()),
                    times.back() - times.front(), (times.size() - 1) / (times.back() - times.front()));
}

TEST_F(Recording, Mp3UnderTheTagsLow16BitsAndAnOddBitRate)
{
    // 0x10055 records MP3; 127,999 bit/s is taken as 127 kbit/s (the encoder settles on a valid rate).
    RecordFor(L"mp3-tag-10055.mp3", 0x10055, 25, 127999);
    WriteExpectation(L"mp3-tag-10055", "mp3", 85);
}

TEST_F(Recording, WavThroughTheCompressors)
{
    RecordFor(L"wav-pcm.wav", WAVE_FORMAT_PCM, 38);
    WriteExpectation(L"wav-pcm", "wav", WAVE_FORMAT_PCM);
    Jvm().ClearRecords();
    RecordFor(L"wav-ima-adpcm.wav", WAVE_FORMAT_IMA_ADPCM, 38);
    WriteExpectation(L"wav-ima-adpcm", "wav", WAVE_FORMAT_IMA_ADPCM);

    // No compressor makes MS ADPCM: the partly built graph stays held until stop.
    EXPECT_EQ(Record(L"wav-ms-adpcm.wav", WAVE_FORMAT_ADPCM), static_cast<jint>(VFW_E_UNSUPPORTED_AUDIO));
    EXPECT_EQ(Record(L"wav-ms-adpcm.wav", WAVE_FORMAT_ADPCM), E_UNEXPECTED);
    EXPECT_EQ(Stop(), S_OK);
    EXPECT_EQ(Stop(), E_UNEXPECTED);
    EXPECT_EQ(::GetFileAttributesW(WorkPath(L"wav-ms-adpcm.wav").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Recording, PausedAndResumed)
{
    ASSERT_EQ(Record(L"mp3-paused.mp3", 85), S_OK);
    ASSERT_TRUE(WaitForLevels(12));
    jbooleanArray paused = Jvm().NewBooleanArray(1);
    EXPECT_GE(Pause(paused), 0);
    EXPECT_EQ(Jvm().BooleanContents(paused)[0], JNI_TRUE);
    ::Sleep(300);
    EXPECT_GE(Pause(paused), 0);
    EXPECT_EQ(Jvm().BooleanContents(paused)[0], JNI_FALSE);
    const size_t resumedAt = Levels().size();
    ASSERT_TRUE(WaitForLevels(resumedAt + 12)) << "no levels after the pause";
    ASSERT_EQ(Stop(), S_OK);
    WriteExpectation(L"mp3-paused", "mp3", 85);
    EXPECT_TRUE(Jvm().Errors().empty());
}

TEST_F(Recording, DeviceLostDuringTheRecording)
{
    ASSERT_EQ(Record(L"mp3-device-lost.mp3", 85), S_OK);
    ASSERT_TRUE(WaitForLevels(20));
    const auto loseDevice = reinterpret_cast<CapturePlatform::LoseDeviceFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(CapturePlatform::kModuleName), CapturePlatform::kLoseDeviceExport)));
    ASSERT_NE(loseDevice, nullptr);
    ASSERT_EQ(loseDevice(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return !CallsOf("Stopped").empty(); })) << "no \"Stopped\" call";
    const std::vector<TestJvm::JavaCall> stopped = CallsOf("Stopped");
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0].intArg, 1);
    EXPECT_NE(stopped[0].threadId, ::GetCurrentThreadId());
    // Java stops the recording it was told about; what was recorded is kept.
    ASSERT_EQ(Stop(), S_OK);
    WriteExpectation(L"mp3-device-lost", "mp3", 85);
}

TEST_F(Recording, FreeLibraryWhileRecording)
{
    ASSERT_EQ(Record(L"mp3-free-library.mp3", 85), S_OK);
    ASSERT_TRUE(WaitForLevels(20));
    // freeLibrary arrives while a level call is inside Java: "InputLevel" must stay bound until that
    // call has returned (the recording is stopped before anything is unbound).
    HANDLE inside = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    LONG armed = 1;
    int boundAtReturn = -1;
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method != "InputLevel" || ::InterlockedExchange(&armed, 0) == 0)
            return;
        ::SetEvent(inside);
        ::Sleep(300);
        boundAtReturn = Jvm().OutstandingGlobalRefs();
    });
    ASSERT_EQ(::WaitForSingleObject(inside, 15000), WAIT_OBJECT_0);
    library.FreeLibrary();
    ::CloseHandle(inside);
    EXPECT_EQ(boundAtReturn, 2);  // "Stopped" and "InputLevel"
    // The streaming has ended before "InputLevel" was unbound: no call comes later, none went wrong.
    const size_t atFree = Levels().size();
    ::Sleep(300);
    EXPECT_EQ(Levels().size(), atFree);
    EXPECT_TRUE(Jvm().Errors().empty());
    EXPECT_EQ(Jvm().OutstandingGlobalRefs(), 0);
    // The level call held in Java held no buffer: the streaming thread only handed the level over, so
    // every buffer up to the stop reached the encoder.
    WriteExpectation(L"mp3-free-library", "mp3", 85);
    // Nothing is held any more, and a new recording can start after initLibrary.
    EXPECT_EQ(Stop(), E_UNEXPECTED);
    ASSERT_EQ(library.InitLibrary(), S_OK);
    Jvm().ClearRecords();
    RecordFor(L"after-free-library.mp3", 85, 5);
}

TEST_F(Recording, UnwritableFileThenARecording)
{
    // The writer cannot create the file when the graph starts: record fails at running the graph,
    // and stop still releases the graph, whichever writer it holds.
    const std::wstring unwritable = L"C:\\no such directory\\file";
    for (const jint tag : {85, WAVE_FORMAT_PCM}) {
        const jint recorded = library.Java_com_tarvik_kelvane_Quillmar_record(
            library.Env(), library.Java(), Jvm().NewByteArray(Utf8(unwritable)), tag, 44100, 128000);
        EXPECT_LT(recorded, 0) << tag;
        EXPECT_EQ(Stop(), S_OK) << tag;
    }
    RecordFor(L"after-unwritable.mp3", 85, 5);
}

// A recording's path is measured in UTF-16 units, as the system takes it: up to 259 are recorded, 260 are
// refused with 0x800700CE before anything is built, whatever the UTF-8 bytes (2 for "ü", 4 for a
// character outside the basic plane, which takes 2 units).
TEST_F(Recording, PathsOfUpTo259Utf16UnitsAreRecordedAndLongerOnesRefused)
{
    struct SCase {
        const wchar_t* filler;  // one character
        size_t units;
        jint expected;
    };
    const SCase cases[] = {
        {L"a", 259, S_OK},
        {L"a", 260, static_cast<jint>(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE))},
        {L"\u00FC", 259, S_OK},
        {L"\u00FC", 260, static_cast<jint>(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE))},
        {L"\U0001F3B5", 259, S_OK},
    };
    for (const SCase& test : cases) {
        const std::wstring filler = test.filler;
        SCOPED_TRACE(testing::Message() << test.units << " units of U+" << std::hex << static_cast<unsigned>(filler[0]));
        // Directories of 100 units (at most 400 bytes in UTF-8: the host's limit for one name is 255 bytes
        // under Wine, so 50 units a name) and a file name that makes up the rest.
        std::wstring path = WorkPath(L"long-paths");
        ::CreateDirectoryW(path.c_str(), nullptr);
        auto fill = [&](size_t units) {
            std::wstring text;
            while (text.size() + filler.size() <= units)
                text += filler;
            return text + std::wstring(units - text.size(), L'a');
        };
        while (path.size() + 1 + 50 + 1 + 10 < test.units) {
            path += L"\\" + fill(50);
            ::CreateDirectoryW(path.c_str(), nullptr);
        }
        path += L"\\" + fill(test.units - path.size() - 1 - 4) + L".wav";
        ASSERT_EQ(path.size(), test.units);
        ::DeleteFileW(path.c_str());
        const jint recorded = library.Java_com_tarvik_kelvane_Quillmar_record(
            library.Env(), library.Java(), Jvm().NewByteArray(Utf8(path)), WAVE_FORMAT_PCM, 44100, 0);
        EXPECT_EQ(recorded, test.expected);
        EXPECT_EQ(Stop(), test.expected == S_OK ? S_OK : static_cast<jint>(E_UNEXPECTED));
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        EXPECT_EQ(attributes != INVALID_FILE_ATTRIBUTES, test.expected == S_OK) << "the file is there or not";
        ::DeleteFileW(path.c_str());
    }
}

TEST_F(Recording, RecordedFilePlaysBack)
{
    const std::wstring file = L"record-then-play.mp3";
    RecordFor(file, 85, 30);
    const double recorded = Levels().size() * 0.04;
    Jvm().ClearRecords();
    ASSERT_GE(Play(WorkPath(file)), 0);
    double duration = 0.0;
    EXPECT_EQ(Read(library.Java_com_tarvik_kelvane_Quillmar_getDuration, &duration), S_OK);
    EXPECT_NEAR(duration, recorded, 0.1);
    ASSERT_TRUE(WaitFor([&] { return !CallsOf("Stopped").empty(); })) << "the playback did not end";
    EXPECT_EQ(CallsOf("Stopped")[0].intArg, 0);
    EXPECT_EQ(Stop(), S_OK);
    std::printf("recorded %.2f s, played back a file of %.3f s\n", recorded, duration);
}

// Runs only in the prefix without any audio input (test record_tests.no_input_device).
TEST(NoInputDevice, RecordFailsAtTheDefaultDevice)
{
    if (std::getenv("TESSARO_NO_INPUT_DEVICE") == nullptr)
        GTEST_SKIP() << "needs a prefix without audio input devices; see record_tests.no_input_device";
    const std::wstring path = WorkPath(L"no-input.mp3");
    {
        CLoadedLibrary library;
        ASSERT_EQ(library.InitLibrary(), S_OK);
        EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_record(library.Env(), library.Java(),
                                                                  library.Jvm().NewByteArray(Utf8(path)), 85, 44100,
                                                                  128000),
                  E_INVALIDARG);
        // Stop releases the partly built graph; the device list had nothing to free, which the
        // result tells (S_FALSE).
        EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()), S_FALSE);
        EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()), E_UNEXPECTED);
        library.FreeLibrary();
    }
    const std::vector<std::wstring> log = CLoadedLibrary::ReadMainLog().Messages();
    std::vector<std::wstring> init;
    bool inside = false;
    for (const std::wstring& line : log) {
        if (line.compare(0, kInitGraph.size() + 1, kInitGraph + L"(") == 0) {
            inside = line.find(L" begin…") != std::wstring::npos;
            if (!inside)
                init.push_back(line.substr(line.rfind(L" done,")));
            continue;
        }
        if (inside)
            init.push_back(line);
    }
    EXPECT_EQ(init, (std::vector<std::wstring>{L"init COM…", L"init FilterGraph…", L"init FilterEnumerator…",
                                               L"get index of default AudioCapturer…",
                                               L"get default AudioCapturer…", L" done, return 0x80070057."}));
}

} // namespace
