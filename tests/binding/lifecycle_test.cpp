// The library loaded as a JVM loads it: static objects and logs, JNI_OnLoad, initLibrary, freeLibrary
// and getVersion, checked through the stand-in VM's records and the main log.
#include "loaded_library.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <string>
#include <thread>
#include <vector>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

const std::wstring kCaptureConstructor = L"CFilterGraph_Capture::CFilterGraph_Capture()";
const std::wstring kCaptureDestructor = L"CFilterGraph_Capture::~CFilterGraph_Capture()";
const std::wstring kCaptureFree = L"CFilterGraph_Capture::Free()";
const std::wstring kPlaybackConstructor = L"CFilterGraph_Playback::CFilterGraph_Playback()";
const std::wstring kPlaybackDestructor = L"CFilterGraph_Playback::~CFilterGraph_Playback()";

// The capture graph object freeing nothing (no recording was built).
const std::vector<std::wstring> kCaptureFreeLines{kCaptureFree + L" begin…", L"free FilterEnumerator…",
                                                  L"free FilterGraph…", kCaptureFree + L" done, return 0x00000001."};

// The whole main log of one load: the log's own first line and the graph objects' constructors at
// load, the given lines, the graph objects' destructors (in reverse order) and the log's last line at
// unload.
std::vector<std::wstring> Framed(const std::vector<std::wstring>& lines)
{
    std::vector<std::wstring> all{L"Log started.", kCaptureConstructor + L" begin…", kCaptureConstructor + L" done.",
                                  kPlaybackConstructor + L" begin…", kPlaybackConstructor + L" done."};
    all.insert(all.end(), lines.begin(), lines.end());
    all.insert(all.end(), {kPlaybackDestructor + L" begin…", kPlaybackDestructor + L" done.",
                           kCaptureDestructor + L" begin…"});
    all.insert(all.end(), kCaptureFreeLines.begin(), kCaptureFreeLines.end());
    all.insert(all.end(), {kCaptureDestructor + L" done.", L"Log stopped."});
    return all;
}

const std::wstring kInit = L"Java_com_tarvik_kelvane_Quillmar_initLibrary()";
const std::wstring kFree = L"Java_com_tarvik_kelvane_Quillmar_freeLibrary()";

// freeLibrary with nothing held: the capture graph is freed first, inside the call.
std::vector<std::wstring> FreeLibraryLines()
{
    std::vector<std::wstring> lines{kFree + L" begin…"};
    lines.insert(lines.end(), kCaptureFreeLines.begin(), kCaptureFreeLines.end());
    lines.push_back(kFree + L" done, return 0x00000001.");
    return lines;
}

std::vector<std::wstring> Joined(std::initializer_list<std::vector<std::wstring>> parts)
{
    std::vector<std::wstring> all;
    for (const std::vector<std::wstring>& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}
const std::wstring kVersion = L"Java_com_tarvik_kelvane_Quillmar_getVersion()";

std::vector<std::wstring> MessagesAfterUnload(CLoadedLibrary& library)
{
    library.Unload();
    const TestTrace::Log log = CLoadedLibrary::ReadMainLog();
    EXPECT_TRUE(log.opened);
    EXPECT_TRUE(log.problems.empty()) << (log.problems.empty() ? "" : log.problems.front());
    return log.Messages();
}

TEST(Lifecycle, LoadInitFreeInitFreeUnload)
{
    CLoadedLibrary library;
    EXPECT_EQ(library.OnLoadResult(), JNI_VERSION_1_4);

    EXPECT_EQ(library.InitLibrary(), S_OK);
    EXPECT_EQ(library.Jvm().OutstandingGlobalRefs(), 2);  // one per bound method
    library.FreeLibrary();
    EXPECT_EQ(library.Jvm().OutstandingGlobalRefs(), 0);
    EXPECT_EQ(library.InitLibrary(), S_OK);
    library.FreeLibrary();
    EXPECT_EQ(library.Jvm().OutstandingGlobalRefs(), 0);

    const std::vector<TestJvm::MethodLookup> lookups = library.Jvm().Lookups();
    // The stream's methods are looked up too; Quillmar has none, and that is no failure.
    ASSERT_EQ(lookups.size(), 6u);
    EXPECT_EQ(lookups[0].name, "Stopped");
    EXPECT_EQ(lookups[0].signature, "(I)V");
    EXPECT_EQ(lookups[1].name, "InputLevel");
    EXPECT_EQ(lookups[1].signature, "(D)V");
    EXPECT_EQ(lookups[2].name, "StreamFormat");
    EXPECT_FALSE(lookups[2].found);
    EXPECT_TRUE(library.Jvm().Errors().empty());

    EXPECT_THAT(MessagesAfterUnload(library),
                ElementsAreArray(Framed(Joined({{kInit + L" begin…", kInit + L" done, return 0x00000000."},
                                                FreeLibraryLines(),
                                                {kInit + L" begin…", kInit + L" done, return 0x00000000."},
                                                FreeLibraryLines()}))));
}

// A second initLibrary is refused before it binds anything: the first object keeps both callbacks.
TEST(Lifecycle, SecondInitLibraryChangesNothing)
{
    CLoadedLibrary library;
    EXPECT_EQ(library.InitLibrary(), S_OK);
    jobject second = library.Jvm().NewQuillmar();
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_initLibrary(library.Env(), second), E_UNEXPECTED);
    EXPECT_EQ(library.Jvm().Lookups().size(), 3u);  // Stopped, InputLevel, StreamFormat (not found)
    EXPECT_EQ(library.Jvm().GlobalRefsCreated(), 2);
    library.FreeLibrary();
    EXPECT_EQ(library.Jvm().OutstandingGlobalRefs(), 0);
    EXPECT_EQ(library.InitLibrary(), S_OK);
    library.FreeLibrary();
}

TEST(Lifecycle, EncoderLogIsOpenWhileLoaded)
{
    CLoadedLibrary library;
    library.Unload();
    const TestTrace::Log log = CLoadedLibrary::ReadEncoderLog();
    EXPECT_TRUE(log.problems.empty());
    EXPECT_THAT(log.Messages(), ElementsAre(L"Log started.", L"Log stopped."));
}

TEST(Lifecycle, LoadTruncatesAnEarlierLog)
{
    {
        CLoadedLibrary first;
        EXPECT_EQ(first.InitLibrary(), S_OK);
        first.FreeLibrary();
    }
    CLoadedLibrary second;
    EXPECT_THAT(MessagesAfterUnload(second), ElementsAreArray(Framed({})));
}

TEST(Lifecycle, InitLibraryRefusesWhatItCannotBind)
{
    CLoadedLibrary library;
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_initLibrary(nullptr, library.Java()), E_UNEXPECTED);
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_initLibrary(library.Env(), nullptr), E_INVALIDARG);

    library.Jvm().FailGetObjectClass(true);
    EXPECT_EQ(library.InitLibrary(), E_ABORT);
    library.Jvm().FailGetObjectClass(false);

    library.Jvm().FailGetMethodID(true);
    EXPECT_EQ(library.InitLibrary(), E_ABORT);
    library.Jvm().FailGetMethodID(false);
    EXPECT_EQ(library.Jvm().PendingException(), "");  // cleared: the result code reaches Java
    library.Jvm().ClearPendingException();

    library.Jvm().FailNewGlobalRef(true);
    EXPECT_EQ(library.InitLibrary(), E_ABORT);
    library.Jvm().FailNewGlobalRef(false);
    EXPECT_EQ(library.Jvm().OutstandingGlobalRefs(), 0);

    // A method of an object whose class lacks it.
    jobject stranger = library.Jvm().NewObjectOfClass("java/lang/Object");
    EXPECT_EQ(library.Java_com_tarvik_kelvane_Quillmar_initLibrary(library.Env(), stranger), E_ABORT);
    library.Jvm().ClearPendingException();
    EXPECT_TRUE(library.Jvm().Errors().empty());

    const std::vector<std::wstring> messages = MessagesAfterUnload(library);
    ASSERT_GE(messages.size(), 11u);
    EXPECT_EQ(messages[6], kInit + L" done, return 0x8000FFFF.");
    EXPECT_EQ(messages[8], kInit + L" done, return 0x80070057.");
    EXPECT_EQ(messages[10], kInit + L" done, return 0x80004004.");
}

TEST(Lifecycle, FreeLibraryWithoutInitRunsAllStepsAndReportsNothingToDo)
{
    CLoadedLibrary library;
    library.FreeLibrary();
    EXPECT_EQ(library.Jvm().TotalAttaches(), 0);
    EXPECT_THAT(MessagesAfterUnload(library),
                ElementsAreArray(Framed(FreeLibraryLines())));
}

TEST(Lifecycle, FailedBindingStaysBoundUntilFreeLibrary)
{
    CLoadedLibrary library;
    library.Jvm().FailNewGlobalRef(true);
    EXPECT_EQ(library.InitLibrary(), E_ABORT);
    library.Jvm().FailNewGlobalRef(false);
    EXPECT_EQ(library.InitLibrary(), S_OK);
    library.FreeLibrary();
    EXPECT_EQ(library.Jvm().OutstandingGlobalRefs(), 0);
}

class Version : public ::testing::Test {
protected:
    void SetUp() override { ::DeleteFileW(L"Drovane.tar"); }
    void TearDown() override { ::DeleteFileW(L"Drovane.tar"); }
};

TEST_F(Version, ZeroWithoutTheModule)
{
    CLoadedLibrary library;
    EXPECT_EQ(library.GetVersion(), 0);
    EXPECT_THAT(MessagesAfterUnload(library),
                ElementsAreArray(Framed({kVersion + L" begin…", L"init version info…",
                                         kVersion + L" done, return 0."})));
}

TEST_F(Version, DigitsOfTheModulesFileVersion)
{
    ASSERT_TRUE(::CopyFileW(TEST_DATA_DIR L"/Drovane.tar", L"Drovane.tar", FALSE)) << ::GetLastError();
    CLoadedLibrary library;
    EXPECT_EQ(library.GetVersion(), 2051);
    const TestTrace::Log log = (library.Unload(), CLoadedLibrary::ReadMainLog());
    EXPECT_THAT(log.Messages(),
                ElementsAreArray(Framed({kVersion + L" begin…", L"init version info…", L"get file version…",
                                         L"file version = 2.0.5.1.", kVersion + L" done, return 2051."})));
    // Progress lines are indented one level inside the call.
    ASSERT_EQ(log.lines.size(), 19u);
    EXPECT_EQ(log.lines[5].indent, 0);
    EXPECT_EQ(log.lines[6].indent, 2);
    EXPECT_EQ(log.lines[9].indent, 0);
}

} // namespace

namespace {

// getVersion takes no lock: it returns while another thread is inside initLibrary, which holds the
// library lock (held there by blocking the VM's method lookup).
TEST(Lock, GetVersionDoesNotWaitForTheLibraryLock)
{
    CLoadedLibrary library;
    HANDLE insideInit = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE releaseInit = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    library.Jvm().OnLookup([&](const TestJvm::MethodLookup&) {
        ::SetEvent(insideInit);
        ::WaitForSingleObject(releaseInit, 30000);
    });
    jint initResult = -1;
    std::thread java([&] {
        JNIEnv* env = nullptr;
        library.Jvm().Vm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
        initResult = library.Java_com_tarvik_kelvane_Quillmar_initLibrary(env, library.Java());
        library.Jvm().Vm()->DetachCurrentThread();
    });
    ASSERT_EQ(::WaitForSingleObject(insideInit, 30000), WAIT_OBJECT_0);

    jint version = -1;
    HANDLE versionDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread versionCaller([&] {
        JNIEnv* env = nullptr;
        library.Jvm().Vm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
        version = library.Java_com_tarvik_kelvane_Quillmar_getVersion(env, library.Java());
        ::SetEvent(versionDone);
        library.Jvm().Vm()->DetachCurrentThread();
    });
    // getVersion returns while initLibrary still holds the library lock.
    EXPECT_EQ(::WaitForSingleObject(versionDone, 10000), WAIT_OBJECT_0) << "getVersion waited for the library lock";

    library.Jvm().OnLookup(nullptr);
    ::SetEvent(releaseInit);
    java.join();
    versionCaller.join();
    EXPECT_EQ(version, 0);
    EXPECT_EQ(initResult, S_OK);
    library.FreeLibrary();
    ::CloseHandle(insideInit);
    ::CloseHandle(releaseInit);
    ::CloseHandle(versionDone);
}

} // namespace
