// Playback through the exported natives with the stand-in VM: real graphs under Wine playing tone
// files into the test audio server, the "Stopped" callback on the media event thread, the control
// natives on a held graph, the main log of a whole play/stop sequence, and recovery from misuse.
#include "initialised_library_test.h"

#include <dshow.h>

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsSupersetOf;
using ::testing::Not;

namespace {

const std::wstring kToneWav = TEST_DATA_DIR L"/tone-2s.wav";
const std::wstring kToneMp3 = TEST_DATA_DIR L"/tone-2s.mp3";
const std::wstring kNonAscii = TEST_DATA_DIR L"/Tön 日本.wav";
const std::wstring kMissing = TEST_DATA_DIR L"/no such tone.wav";

const std::wstring kPlay = L"Java_com_tarvik_kelvane_Quillmar_play";
const std::wstring kPause = L"Java_com_tarvik_kelvane_Quillmar_pause()";
const std::wstring kStop = L"Java_com_tarvik_kelvane_Quillmar_stop()";
const std::wstring kDuration = L"Java_com_tarvik_kelvane_Quillmar_getDuration()";
const std::wstring kPosition = L"Java_com_tarvik_kelvane_Quillmar_getCurrentPosition()";
const std::wstring kInitGraph = L"CFilterGraph_Playback::Init";

std::wstring Hex(HRESULT hr)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += kDigits[(static_cast<unsigned>(hr) >> shift) & 0xF];
    return text;
}

// Posts an event into the graph that the URL source stand-in has joined; E_UNEXPECTED when no
// source lives (no graph holds one).
HRESULT PostGraphEvent(long code)
{
    HMODULE reader = ::GetModuleHandleW(L"url_reader.dll");
    if (reader == nullptr)
        return E_UNEXPECTED;
    using Notify = HRESULT(WINAPI*)(long, LONG_PTR, LONG_PTR);
    auto notify = reinterpret_cast<Notify>(reinterpret_cast<void*>(::GetProcAddress(reader, "UrlReader_Notify")));
    return notify != nullptr ? notify(code, 0, 0) : E_NOINTERFACE;
}

class Playback : public CInitialisedLibraryTest {
public:
    jint Play(const std::wstring& path, jint number = 7)
    {
        return library.Java_com_tarvik_kelvane_Quillmar_play(library.Env(), library.Java(),
                                                             Jvm().NewByteArray(Utf8(path)), number);
    }
    jint Pause(jbooleanArray paused)
    {
        return library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), paused);
    }
    jint Stop() { return library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()); }
    jint Duration(jdoubleArray seconds)
    {
        return library.Java_com_tarvik_kelvane_Quillmar_getDuration(library.Env(), library.Java(), seconds);
    }
    jint Position(jdoubleArray seconds)
    {
        return library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(library.Env(), library.Java(), seconds);
    }
    double Seconds(jint (Playback::*read)(jdoubleArray))
    {
        jdoubleArray seconds = Jvm().NewDoubleArray(1);
        Jvm().SetDoubleContents(seconds, {-1.0});
        EXPECT_EQ((this->*read)(seconds), S_OK);
        return Jvm().DoubleContents(seconds)[0];
    }

    // Frees and unloads the library and reads its main log.
    TestTrace::Log FinishedLog()
    {
        library.FreeLibrary();
        library.Unload();
        TestTrace::Log log = CLoadedLibrary::ReadMainLog();
        EXPECT_TRUE(log.problems.empty());
        return log;
    }
};


class PlaybackToTheEnd : public Playback {
public:
    void Run(const std::wstring& path)
    {
        const jint played = Play(path);
        ASSERT_GE(played, 0) << std::hex << played;
        playResult = played;
        EXPECT_EQ(Play(path, 8), E_UNEXPECTED);  // a second play needs a stop first

        EXPECT_NEAR(Seconds(&Playback::Duration), 2.0, 0.06);
        const double first = Seconds(&Playback::Position);
        EXPECT_TRUE(WaitFor([&] { return Seconds(&Playback::Position) > first + 0.2; }));

        jbooleanArray paused = Jvm().NewBooleanArray(1);
        pauseResults[0] = Pause(paused);
        EXPECT_GE(pauseResults[0], 0);
        EXPECT_THAT(Jvm().BooleanContents(paused), ElementsAre(JNI_TRUE));
        pauseResults[1] = Pause(paused);
        EXPECT_GE(pauseResults[1], 0);
        EXPECT_THAT(Jvm().BooleanContents(paused), ElementsAre(JNI_FALSE));

        ASSERT_TRUE(WaitFor([&] { return !StoppedCalls().empty(); }, 15000)) << "no \"Stopped\" call";
        ::Sleep(100);  // nothing else follows
        const std::vector<TestJvm::JavaCall> calls = StoppedCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].intArg, 0);
        EXPECT_EQ(calls[0].signature, "(I)V");
        EXPECT_TRUE(calls[0].receiverIsGlobalRef);
        EXPECT_TRUE(calls[0].attachedDuringCall);
        eventThread = calls[0].threadId;
        EXPECT_NE(eventThread, ::GetCurrentThreadId());
        EXPECT_EQ(Jvm().Attaches(eventThread), 1);
        EXPECT_EQ(Jvm().Detaches(eventThread), 1);
        EXPECT_FALSE(Jvm().IsAttached(eventThread));

        EXPECT_EQ(Stop(), S_OK);
        // Everything is released: nothing is held, and the source filter is gone with its graph.
        EXPECT_EQ(Stop(), E_UNEXPECTED);
        EXPECT_EQ(PostGraphEvent(EC_USER), E_UNEXPECTED);
        EXPECT_TRUE(Jvm().Errors().empty());
    }

    jint playResult = 0;
    jint pauseResults[2] = {};
    DWORD eventThread = 0;
};

TEST_F(PlaybackToTheEnd, WavAndItsWholeTrace)
{
    Run(kToneWav);
    if (HasFatalFailure())
        return;
    const TestTrace::Log log = FinishedLog();
    const std::wstring play = kPlay + L"( 7 )";
    const std::wstring build = kInitGraph + L"( 7, \"" + kToneWav + L"\" )";
    std::vector<std::wstring> expected{
        L"Java_com_tarvik_kelvane_Quillmar_initLibrary() begin…",
        L"Java_com_tarvik_kelvane_Quillmar_initLibrary() done, return 0x00000000.",
        play + L" begin…",
        L"get file path…",
        L"FilePath = \"" + kToneWav + L"\".",
        build + L" begin…",
        L"init COM…",
        L"init filter graph…",
        L"insert FileSource(URL)…",
        L"query FileSource for IFileSourceFilter…",
        L"load file…",
        L"find FileSource output…",
        L"render FileSource output…",
        build + L" done, return 0x00000000.",
        L"attach FilterGraph to s_MediaEventThread…",
        L"init MediaControl…",
        L"preroll FilterGraph…",
        play + L" done, return " + Hex(playResult) + L".",
        kPlay + L"( 8 ) begin…",
        L"get file path…",
        L"FilePath = \"" + kToneWav + L"\".",
        // Refused before anything is built: one playback at a time.
        kPlay + L"( 8 ) done, return 0x8000FFFF.",
        kDuration + L" begin…",
        kDuration + L" done, return 0x00000000.",
    };
    // The Java thread's lines: up to the first position read (position reads repeat while waiting),
    // then from the pauses on.
    std::vector<std::wstring> java = log.MessagesOf(::GetCurrentThreadId());
    ASSERT_GE(java.size(), expected.size() + 5);
    ASSERT_EQ(java[0], L"Log started.");
    // After the two graph objects' constructors.
    EXPECT_EQ(std::vector<std::wstring>(java.begin() + 5, java.begin() + 5 + expected.size()), expected);
    std::vector<std::wstring> tail(java.end() - 23, java.end());
    EXPECT_EQ(tail, (std::vector<std::wstring>{
                        kPause + L" begin…", kPause + L" done, return " + Hex(pauseResults[0]) + L".",
                        kPause + L" begin…", kPause + L" done, return " + Hex(pauseResults[1]) + L".",
                        kStop + L" begin…", kStop + L" done, return 0x00000000.",
                        kStop + L" begin…", kStop + L" done, return 0x8000FFFF.",
                        L"Java_com_tarvik_kelvane_Quillmar_freeLibrary() begin…",
                        L"CFilterGraph_Capture::Free() begin…",
                        L"free FilterEnumerator…",
                        L"free FilterGraph…",
                        L"CFilterGraph_Capture::Free() done, return 0x00000001.",
                        L"Java_com_tarvik_kelvane_Quillmar_freeLibrary() done, return 0x00000001.",
                        L"CFilterGraph_Playback::~CFilterGraph_Playback() begin…",
                        L"CFilterGraph_Playback::~CFilterGraph_Playback() done.",
                        L"CFilterGraph_Capture::~CFilterGraph_Capture() begin…",
                        L"CFilterGraph_Capture::Free() begin…",
                        L"free FilterEnumerator…",
                        L"free FilterGraph…",
                        L"CFilterGraph_Capture::Free() done, return 0x00000001.",
                        L"CFilterGraph_Capture::~CFilterGraph_Capture() done.",
                        L"Log stopped."}));
    // The event thread's lines: the completion passed to Java.
    EXPECT_THAT(log.MessagesOf(eventThread),
                IsSupersetOf({L"callback_MediaEvent( 1 = EC_COMPLETE ) begin…", L"call Java…", L"call done.",
                              L"callback_MediaEvent( 1 = EC_COMPLETE ) done, return 0x00000000."}));
}

TEST_F(PlaybackToTheEnd, Mp3)
{
    Run(kToneMp3);
}

TEST_F(Playback, PathOutsideAsciiPlays)
{
    ASSERT_GE(Play(kNonAscii), 0);
    EXPECT_NEAR(Seconds(&Playback::Duration), 2.0, 0.06);
    EXPECT_EQ(Stop(), S_OK);
    EXPECT_THAT(FinishedLog().Messages(), Contains(L"FilePath = \"" + kNonAscii + L"\"."));
}

TEST_F(Playback, UnopenablePathIsHeldUntilStop)
{
    const jint failed = Play(kMissing, 3);
    EXPECT_LT(failed, 0);
    EXPECT_EQ(Play(kToneWav, 4), E_UNEXPECTED);
    EXPECT_EQ(Stop(), S_OK);
    ASSERT_GE(Play(kToneWav, 5), 0);
    EXPECT_EQ(Stop(), S_OK);

    const std::vector<std::wstring> java = FinishedLog().MessagesOf(::GetCurrentThreadId());
    const std::wstring done = kInitGraph + L"( 3, \"" + kMissing + L"\" ) done, return " + Hex(failed) + L".";
    const auto at = std::find(java.begin(), java.end(), done);
    ASSERT_NE(at, java.end());
    EXPECT_TRUE(at[-1] == L"load file…" || at[-1] == L"render FileSource output…");
    EXPECT_EQ(at[1], kPlay + L"( 3 ) done, return " + Hex(failed) + L".");
}

TEST_F(Playback, ResultArraysOnAHeldGraph)
{
    ASSERT_GE(Play(kToneWav), 0);
    EXPECT_EQ(Duration(nullptr), E_INVALIDARG);
    EXPECT_EQ(Duration(Jvm().NewDoubleArray(0)), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Position(nullptr), E_INVALIDARG);
    EXPECT_EQ(Position(Jvm().NewDoubleArray(0)), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    // A refused array leaves the graph as it was: each refusal is followed by the toggle it did not do.
    jbooleanArray paused = Jvm().NewBooleanArray(1);
    EXPECT_EQ(Pause(nullptr), E_INVALIDARG);
    EXPECT_GE(Pause(paused), 0);
    EXPECT_THAT(Jvm().BooleanContents(paused), ElementsAre(JNI_TRUE));
    EXPECT_EQ(Pause(Jvm().NewBooleanArray(0)), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_GE(Pause(paused), 0);
    EXPECT_THAT(Jvm().BooleanContents(paused), ElementsAre(JNI_FALSE));
    EXPECT_EQ(Stop(), S_OK);
    EXPECT_EQ(Jvm().ElementsOutstanding(), 0);
}

TEST_F(Playback, EventCodesAndTheirNames)
{
    ASSERT_GE(Play(kToneWav), 0);
    jbooleanArray paused = Jvm().NewBooleanArray(1);
    ASSERT_GE(Pause(paused), 0);  // no completion while the codes are posted
    for (long code : {15, EC_USERABORT, EC_ERRORABORT, EC_DEVICE_LOST, EC_STREAM_CONTROL_STOPPED})
        ASSERT_EQ(PostGraphEvent(code), S_OK) << code;
    ASSERT_TRUE(WaitFor([&] { return StoppedCalls().size() == 3; }));
    ::Sleep(100);
    const std::vector<TestJvm::JavaCall> calls = StoppedCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].intArg, 1);  // error abort
    EXPECT_EQ(calls[1].intArg, 1);  // device lost
    EXPECT_EQ(calls[2].intArg, 0);  // stream control stopped
    EXPECT_EQ(Stop(), S_OK);
    const std::vector<std::wstring> events = FinishedLog().MessagesOf(calls[0].threadId);
    EXPECT_THAT(events, IsSupersetOf({
                            L"callback_MediaEvent( 15 = (null) ) begin…",
                            L"callback_MediaEvent( 15 = (null) ) done, return 0x00000000.",
                            L"callback_MediaEvent( 2 = EC_USERABORT ) done, return 0x00000000.",
                            L"callback_MediaEvent( 3 = EC_ERRORABORT ) done, return 0x00000000.",
                            L"callback_MediaEvent( 31 = EC_DEVICE_LOST ) begin…",
                            L"callback_MediaEvent( 26 = EC_STREAM_CONTROL_STOPPED ) done, return 0x00000000.",
                        }));
    // Only the three that reach Java call it.
    EXPECT_EQ(std::count(events.begin(), events.end(), L"call Java…"), 3);
}

TEST_F(Playback, StopInsideStoppedReleasesTheGraph)
{
    ASSERT_GE(Play(kToneWav), 0);
    std::atomic<jint> inside{1};
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method == "Stopped")
            inside = library.Java_com_tarvik_kelvane_Quillmar_stop(Jvm().Env(), library.Java());
    });
    ASSERT_EQ(PostGraphEvent(EC_STREAM_CONTROL_STOPPED), S_OK);
    ASSERT_TRUE(WaitFor([&] { return inside != 1; }, 8000));
    EXPECT_EQ(inside, S_OK);
    Jvm().OnCall(nullptr);
    EXPECT_EQ(Stop(), E_UNEXPECTED);  // released by the stop inside the handler
    ASSERT_GE(Play(kToneWav), 0);     // the event thread serves the next playback
    EXPECT_EQ(Stop(), S_OK);
    EXPECT_THAT(FinishedLog().Messages(), Contains(kStop + L" done, return 0x00000000."));
}

TEST_F(Playback, JavaExceptionInStoppedIsReportedAndCleared)
{
    ASSERT_GE(Play(kToneWav), 0);
    Jvm().ThrowFromCalls(true);
    ASSERT_EQ(PostGraphEvent(EC_STREAM_CONTROL_STOPPED), S_OK);
    ASSERT_TRUE(WaitFor([&] { return StoppedCalls().size() == 1; }));
    // The event thread goes on: a second event still reaches Java.
    ASSERT_EQ(PostGraphEvent(EC_DEVICE_LOST), S_OK);
    ASSERT_TRUE(WaitFor([&] { return StoppedCalls().size() == 2; }));
    Jvm().ThrowFromCalls(false);
    EXPECT_EQ(Stop(), S_OK);
    // No JNI call was made with the exception still pending.
    EXPECT_TRUE(Jvm().Errors().empty()) << Jvm().Errors().front();
    EXPECT_THAT(FinishedLog().Messages(),
                IsSupersetOf({L"callback_MediaEvent( 26 = EC_STREAM_CONTROL_STOPPED ) done, return 0x80004005.",
                              L"callback_MediaEvent( 31 = EC_DEVICE_LOST ) done, return 0x80004005."}));
}

TEST_F(Playback, FreeLibraryWhilePlayingThenPlayAgain)
{
    ASSERT_GE(Play(kToneWav), 0);
    library.FreeLibrary();
    EXPECT_EQ(Stop(), E_UNEXPECTED);  // freeLibrary released the graph
    ASSERT_EQ(library.InitLibrary(), S_OK);
    ASSERT_GE(Play(kToneWav), 0);
    EXPECT_NEAR(Seconds(&Playback::Duration), 2.0, 0.06);
    EXPECT_EQ(Stop(), S_OK);
}

TEST(PlaybackWithoutInit, PlayBeforeInitLibraryDoesNotWedgeTheEventThread)
{
    CLoadedLibrary library;
    auto play = [&] {
        return library.Java_com_tarvik_kelvane_Quillmar_play(library.Env(), library.Java(),
                                                             library.Jvm().NewByteArray(Utf8(kToneWav)), 1);
    };
    auto stop = [&] { return library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()); };
    // Built, but nobody watches its events: the attach step fails.
    EXPECT_EQ(play(), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    EXPECT_EQ(stop(), S_OK);
    ASSERT_EQ(library.InitLibrary(), S_OK);
    EXPECT_GE(play(), 0);
    EXPECT_EQ(stop(), S_OK);
    library.FreeLibrary();
}

} // namespace
