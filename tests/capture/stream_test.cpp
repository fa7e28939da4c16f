// Recording with options through recordWithOptions of the Java package's binding class with the stand-in
// VM: stereo and variable bit rate, and the recorded bytes streamed to "StreamFormat"/"StreamData" on the
// delivery thread, with or without a file. Each recording leaves <name>.stream (the bytes Java received),
// <name>.format and <name>.expect for the Linux-side check (check_streams.py), which compares them with
// the file and decodes both.
#include "initialised_library_test.h"

#include <psapi.h>
#include <vfwmsgs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::wstring kOptions = L"Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions";
const std::wstring kLoss = L"Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamLoss";
constexpr jint kMp3 = 85;
constexpr jint kPcm = 1;
constexpr jint kStream = 1;

struct Stream {
    std::vector<jbyte> format;
    std::vector<jbyte> data;
    std::vector<size_t> chunks;
    int ends = 0;
    bool formatFirst = true;
};

void WriteBytes(const std::wstring& path, const std::vector<jbyte>& bytes)
{
    FILE* file = ::_wfopen(path.c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

std::vector<std::wstring> WorkFiles()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(WorkPath(L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

class Streamed : public ::testing::Test {
public:
    void SetUp() override { ASSERT_EQ(library.InitLibrary(), S_OK); }
    void TearDown() override
    {
        for (const wchar_t* name :
             {L"TESSARO_TEST_CAPTURE_FAST", L"TESSARO_TEST_CAPTURE_MONO_ONLY", L"TESSARO_TEST_CAPTURE_REPORT"})
            ::SetEnvironmentVariableW(name, nullptr);
        Jvm().OnCall(nullptr);
        if (library.Loaded())
            library.FreeLibrary();
    }
    TestJvm::CJavaVm& Jvm() { return library.Jvm(); }

    // The device reports what it delivered into <name>.report: the length the recording must have.
    void ReportInto(const std::wstring& name)
    {
        ::DeleteFileW(WorkPath(name + L".report").c_str());
        ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_REPORT", WorkPath(name + L".report").c_str());
    }
    // recordWithOptions into <file> in the working directory (null: no file).
    jint RecordWith(const wchar_t* file, const std::vector<jint>& options)
    {
        jbyteArray path = nullptr;
        if (file != nullptr) {
            ::DeleteFileW(WorkPath(file).c_str());
            path = Jvm().NewByteArray(Utf8(WorkPath(file)));
        }
        jintArray array = Jvm().NewIntArray(static_cast<jsize>(options.size()));
        if (!options.empty()) {
            jint* elements = library.Env()->GetIntArrayElements(array, nullptr);
            std::copy(options.begin(), options.end(), elements);
            library.Env()->ReleaseIntArrayElements(array, elements, 0);
        }
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions(library.Env(), library.Java(),
                                                                                      nullptr, path, array);
    }
    jint Stop() { return library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()); }
    jint Loss(jdoubleArray array)
    {
        return library.Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamLoss(library.Env(), library.Java(), array);
    }
    std::vector<jdouble> Loss()
    {
        jdoubleArray array = Jvm().NewDoubleArray(3);
        EXPECT_EQ(Loss(array), S_OK);
        return Jvm().DoubleContents(array);
    }
    size_t Levels()
    {
        size_t count = 0;
        for (const TestJvm::JavaCall& call : Jvm().Calls())
            count += call.method == "InputLevel" ? 1 : 0;
        return count;
    }
    Stream Collected()
    {
        Stream stream;
        for (const TestJvm::JavaCall& call : Jvm().Calls()) {
            if (call.method == "StreamFormat") {
                stream.format = call.bytesArg;
                stream.formatFirst = stream.formatFirst && stream.chunks.empty() && stream.ends == 0;
            } else if (call.method == "StreamData" && call.nullArg) {
                ++stream.ends;
            } else if (call.method == "StreamData") {
                stream.formatFirst = stream.formatFirst && !stream.format.empty();
                EXPECT_EQ(stream.ends, 0) << "bytes after the end";
                stream.data.insert(stream.data.end(), call.bytesArg.begin(), call.bytesArg.end());
                stream.chunks.push_back(call.bytesArg.size());
            }
        }
        return stream;
    }
    // Waits for the stream's end and leaves what the check needs beside the file.
    Stream Finish(const std::wstring& name, const std::string& expectation)
    {
        EXPECT_TRUE(WaitFor([&] { return Collected().ends > 0; }, 60000)) << "no end of stream";
        ::Sleep(100);
        const Stream stream = Collected();
        EXPECT_EQ(stream.ends, 1);
        EXPECT_TRUE(stream.formatFirst);
        WriteBytes(WorkPath(name + L".stream"), stream.data);
        WriteBytes(WorkPath(name + L".format"), stream.format);
        FILE* file = ::_wfopen(WorkPath(name + L".expect").c_str(), L"w");
        EXPECT_NE(file, nullptr);
        if (file != nullptr) {
            std::fprintf(file, "%s\nlevels=%u\nchunks=%u\n", expectation.c_str(), static_cast<unsigned>(Levels()),
                         static_cast<unsigned>(stream.chunks.size()));
            std::fclose(file);
        }
        return stream;
    }

    CLoadedLibrary library{true};
};

// Each recording: its name, the options, and what the check compares (file: the stream against the
// file the library wrote; none: no file, the stream alone is decoded).
TEST_F(Streamed, TheStreamCarriesTheRecordedBytes)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* file;
        std::vector<jint> options;
        const char* expectation;
    };
    const Case cases[] = {
        {L"stream-mp3", L"stream-mp3.mp3", {kMp3, 44100, 1, 128000, -1, kStream}, "kind=mp3\nchannels=1\nvbr=0\nfile=1"},
        {L"stream-vbr-stereo", L"stream-vbr-stereo.mp3", {kMp3, 44100, 2, 0, 4, kStream, 0},
         "kind=mp3\nchannels=2\nvbr=1\nfile=1"},
        {L"stream-wav-stereo", L"stream-wav-stereo.wav", {kPcm, 44100, 2, 0, -1, kStream},
         "kind=wav\nchannels=2\nvbr=0\nfile=1"},
        {L"stream-only-mp3", nullptr, {kMp3, 44100, 1, 128000, -1, kStream}, "kind=mp3\nchannels=1\nvbr=0\nfile=0"},
        {L"stream-only-wav", nullptr, {kPcm, 44100, 1, 0, -1, kStream}, "kind=wav\nchannels=1\nvbr=0\nfile=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TestTrace::Narrow(c.name));
        Jvm().ClearRecords();
        ReportInto(c.name);
        const std::vector<std::wstring> before = WorkFiles();
        ASSERT_EQ(RecordWith(c.file, c.options), S_OK);
        ASSERT_TRUE(WaitFor([&] { return Levels() >= 50; })) << "no level calls";
        ASSERT_EQ(Stop(), S_OK);
        const Stream stream = Finish(c.name, c.expectation);
        // About 150 ms a chunk: 2.4 KB of 128 kbit/s MP3, 13 KB of mono PCM (the last may be shorter).
        for (size_t i = 0; c.options[4] < 0 && i + 1 < stream.chunks.size(); ++i) {
            const double seconds = static_cast<double>(stream.chunks[i]) /
                                   (c.options[0] == kMp3 ? 16000.0 : 88200.0 * c.options[2]);
            EXPECT_TRUE(seconds >= 0.1 && seconds <= 0.2) << "chunk " << i << ": " << seconds << " s";
        }
        if (c.file == nullptr) {
            // Nothing on disk but what this test writes itself.
            std::vector<std::wstring> after = WorkFiles();
            after.erase(std::remove_if(after.begin(), after.end(),
                                       [&](const std::wstring& name) { return name.find(c.name) == 0; }),
                        after.end());
            std::vector<std::wstring> earlier = before;
            earlier.erase(std::remove_if(earlier.begin(), earlier.end(),
                                         [&](const std::wstring& name) { return name.find(c.name) == 0; }),
                          earlier.end());
            EXPECT_EQ(after, earlier);
        }
    }
    EXPECT_EQ(Loss(), (std::vector<jdouble>{0.0, 0.0, 0.0}));
    EXPECT_TRUE(Jvm().Errors().empty());
}

// A reader that stops reading while the recording goes on (the device in fast mode: minutes of audio in
// seconds) costs the stream whole chunks, counted, and neither the file nor memory.
TEST_F(Streamed, AReaderThatStopsLosesOnlyCountedChunks)
{
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_FAST", L"1");
    ReportInto(L"stream-slow-reader");
    const HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method == "StreamData")
            ::WaitForSingleObject(release, 120000);
    });
    ASSERT_EQ(RecordWith(L"stream-slow-reader.wav", {kPcm, 44100, 1, 0, -1, kStream}), S_OK);
    std::vector<jdouble> loss;
    ASSERT_TRUE(WaitFor([&] { return (loss = Loss())[0] > 0.0; }, 120000)) << "nothing dropped";
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    const SIZE_T atFirstLoss = memory.PrivateUsage;
    // 30 s more of 88 KB/s audio held would be 2.6 MB more.
    EXPECT_TRUE(WaitFor([&] { return (loss = Loss())[2] >= 30.0; }, 120000)) << loss[2] << " s dropped";
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    EXPECT_LT(memory.PrivateUsage, atFirstLoss + 1024 * 1024) << "memory grew with the undelivered stream";
    ASSERT_EQ(Stop(), S_OK);
    ::SetEvent(release);
    loss = Loss();
    char expectation[200];
    std::snprintf(expectation, sizeof(expectation), "kind=wav\nchannels=1\nvbr=0\nfile=1\nlost_bytes=%.0f",
                  loss[1]);
    const Stream stream = Finish(L"stream-slow-reader", expectation);
    Jvm().OnCall(nullptr);
    ::CloseHandle(release);
    EXPECT_GT(loss[0], 0.0);
    EXPECT_NEAR(loss[2], loss[1] / 88200.0, 1e-6);
    EXPECT_GE(stream.data.size(), 10u * 88200u) << "the 10 s held were delivered";
}

TEST_F(Streamed, WrongOptionsBuildNothing)
{
    jdoubleArray shortArray = Jvm().NewDoubleArray(2);
    EXPECT_EQ(Loss(shortArray), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Loss(nullptr), E_INVALIDARG);
    EXPECT_EQ(Loss(), (std::vector<jdouble>{0.0, 0.0, 0.0})) << "before the first stream";
    const struct {
        std::vector<jint> options;
        bool file;
        HRESULT result;
    } cases[] = {
        {{kMp3, 44100, 1, 128000, -1}, true, E_INVALIDARG},          // too short
        {{kMp3, 44100, 1, 128000, -1, 0, 1}, true, E_INVALIDARG},    // a later option set
        {{kMp3, 44100, 3, 128000, -1, 0}, true, E_INVALIDARG},       // channels
        {{kMp3, 44100, 1, 128000, 10, 0}, true, E_INVALIDARG},       // VBR quality
        {{kPcm, 44100, 1, 0, 4, 0}, true, E_INVALIDARG},             // VBR for WAVE
        {{kMp3, 44100, 1, 128000, -1, 2}, true, E_INVALIDARG},       // unknown flag
        {{kMp3, 44100, 1, 128000, -1, 0}, false, E_INVALIDARG},      // neither file nor stream
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RecordWith(c.file ? L"refused.mp3" : nullptr, c.options), c.result);
        EXPECT_EQ(::GetFileAttributesW(WorkPath(L"refused.mp3").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(Stop(), E_UNEXPECTED) << "a graph was built";
    }
    // A device without stereo refuses at once, before the file is made.
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_MONO_ONLY", L"1");
    EXPECT_EQ(RecordWith(L"refused.mp3", {kMp3, 44100, 2, 128000, -1, kStream}), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(::GetFileAttributesW(WorkPath(L"refused.mp3").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Stop(), S_OK);  // the graph built so far
    EXPECT_TRUE(Collected().format.empty()) << "a stream of a recording that never started";

    library.FreeLibrary();
    library.Unload();
    const std::vector<std::wstring> log = CLoadedLibrary::ReadMainLog().Messages();
    for (const wchar_t* line : {L"( default, file, 7: 85, 44100, 1, 128000, -1, 0 ) done, return 0x80070057.",
                                L"( default, file, 6: 85, 44100, 2, 128000, -1, 1 ) done, return 0x80040207.",
                                L"( -1 ) done, return 0x80070057.", L"( 3 ) done, return 0x00000000."}) {
        const std::wstring name = std::wstring(line).find(L"default") != std::wstring::npos ? kOptions : kLoss;
        EXPECT_NE(std::find(log.begin(), log.end(), name + line), log.end()) << TestTrace::Narrow(name + line);
    }

    // The plain Quillmar class has no stream methods: a stream is refused.
    CLoadedLibrary plain;
    ASSERT_EQ(plain.InitLibrary(), S_OK);
    jintArray options = plain.Jvm().NewIntArray(6);
    jint* elements = plain.Env()->GetIntArrayElements(options, nullptr);
    const jint values[6] = {kMp3, 44100, 1, 128000, -1, kStream};
    std::copy(values, values + 6, elements);
    plain.Env()->ReleaseIntArrayElements(options, elements, 0);
    EXPECT_EQ(plain.Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions(plain.Env(), plain.Java(), nullptr,
                                                                                   nullptr, options),
              E_NOINTERFACE);
    plain.FreeLibrary();
}

} // namespace
