// The library as a Java program drives it over many cycles, under re-entry and under faults: Tessaro.dll
// loaded with the stand-in VM, in the test prefix with its capture platform, File Writer and URL source
// stand-ins and the test audio server.
//
//   reliability.exe [--cycles N] [--full] [--seed S] [--group soak|reentry|faults]... [--case TEXT]
//                   [--hang-limit SECONDS]
//
// soak     N recordings each of MP3 and WAV of random length and N playbacks stopped at a random
//          moment (every fifth one played to its end); handles, threads and private bytes of the
//          process before and after, after one warm-up cycle of each kind. Wine keeps registry keys
//          and events of every graph it builds: the handle count may grow by what reference cycles of
//          the same platform calls without the library leave, and by a small allowance. Private
//          bytes are also measured half-way: the second half may grow by little more than a slack.
// reentry  each native called from inside each callback ("InputLevel" of a recording, "Stopped" at a
//          playback's end and on a lost device) while this thread stops, pauses or frees the library;
//          every action in turn for each pair, or all three with --full (--case: only the cases whose
//          name contains TEXT). The inner call is judged against the listeners' contract: nothing is
//          refused inside a listener, and each native returns there what it returns on any other
//          thread in the same state (see JudgeInnerResult). Afterwards the library must initialise
//          again and record.
// faults   a full disk under an MP3 recording, the device lost in MP3 and WAV recordings, a capture
//          device and an audio renderer that cannot start.
//
// Every native call is timed. A call that takes longer than kCallBound is a failure (a hang bound,
// not a speed target); one that has not returned after g_hangLimit stops the program, which then
// reports the call that hung.
//
// Output in the current directory: the files recorded, "files.txt" with one line per file for the
// Linux-side check (see ExpectFile and run_reliability.py), "summary.txt" (group cases failures
// worst-ms worst-call), "failures.txt" and "resources.txt". The same table is printed at the end.
#include "loaded_library.h"

#include "capture_platform.h"
#include "platform/file_writer/file_writer.h"

#include <dshow.h>
#include <mmreg.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr DWORD kCallBound = 5000;     // ms: no native call may block longer
DWORD g_hangLimit = 30000;             // ms: a call still inside by then has hung
constexpr DWORD kCallbackWait = 15000; // ms: how long a case waits for its callback or event
// Growth of the process over the soak beyond what reference cycles of the platform alone leave (see
// PlatformCycle) that is still allowed: its caches and heaps settle after the first cycles, not at
// once. A handle kept by every recording or playback exceeds it even in the short form.
constexpr long kHandleAllowance = 4;
constexpr long kThreadAllowance = 2;
// Private bytes: the heaps may still settle over the first half of the soak; over the second half the
// process may grow by a small slack and a little per cycle, far less than one LAME context (about
// 300 KiB) per recording or a recording's buffers.
constexpr long long kPrivateBytesSettling = 4ll << 20;
constexpr long long kPrivateBytesSlack = 256ll << 10;
constexpr long long kPrivateBytesPerCycle = 32ll << 10;
// What one cycle keeps: the median of the growths of the cycles after the first (a heap that grows by a
// segment now and then moves one cycle's figure, not the median), so that a leak of a fraction of a LAME
// context per cycle fails even the short form of four cycles.
constexpr long long kPrivateBytesKeptPerCycle = 48ll << 10;

const std::wstring kToneWav = std::wstring(TEST_DATA_DIR) + L"/tone-2s.wav";
const std::wstring kToneMp3 = std::wstring(TEST_DATA_DIR) + L"/tone-2s.mp3";

std::string Hex(jint value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(value));
    return text;
}

// --- results ------------------------------------------------------------------------------------------

struct GroupResult {
    int cases = 0;
    int failures = 0;
    DWORD worstMs = 0;
    std::string worstCall = "-";
};

class CResults {
public:
    void Begin(const std::string& group)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_group = group;
        m_order.push_back(group);
        m_groups[group];
    }
    // One case of the current group; false marks it failed with the reasons given by Fail since.
    void Case(const std::string& name, bool passed)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_groups[m_group].cases;
        if (!passed)
            ++m_groups[m_group].failures;
        std::printf("%-5s %s\n", passed ? "ok" : "FAIL", name.c_str());
        std::fflush(stdout);
    }
    void Fail(const std::string& what)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_failures.push_back(m_group + ": " + what);
        std::printf("      %s\n", what.c_str());
        std::fflush(stdout);
    }
    void Timed(const std::string& call, DWORD ms)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        GroupResult& group = m_groups[m_group];
        if (ms >= group.worstMs) {
            group.worstMs = ms;
            group.worstCall = call;
        }
    }
    bool Failed()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return !m_failures.empty();
    }
    // The table, on stdout and into summary.txt / failures.txt.
    void Write(const char* note = nullptr)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        FILE* summary = std::fopen("summary.txt", "w");
        std::printf("\n%-8s %6s %9s %10s  %s\n", "group", "cases", "failures", "worst ms", "worst call");
        for (const std::string& name : m_order) {
            const GroupResult& group = m_groups[name];
            std::printf("%-8s %6d %9d %10lu  %s\n", name.c_str(), group.cases, group.failures,
                        static_cast<unsigned long>(group.worstMs), group.worstCall.c_str());
            if (summary != nullptr)
                std::fprintf(summary, "%s\t%d\t%d\t%lu\t%s\n", name.c_str(), group.cases, group.failures,
                             static_cast<unsigned long>(group.worstMs), group.worstCall.c_str());
        }
        if (note != nullptr)
            std::printf("%s\n", note);
        if (summary != nullptr)
            std::fclose(summary);
        if (FILE* failures = std::fopen("failures.txt", "w")) {
            for (const std::string& failure : m_failures)
                std::fprintf(failures, "%s\n", failure.c_str());
            std::fclose(failures);
        }
        std::fflush(stdout);
    }

private:
    std::mutex m_mutex;
    std::string m_group = "setup";
    std::vector<std::string> m_order;
    std::map<std::string, GroupResult> m_groups;
    std::vector<std::string> m_failures;
};

CResults g_results;

// --- timed calls and the hang watchdog -------------------------------------------------------------------

struct InFlight {
    std::string call;
    DWORD start = 0;
};

std::mutex g_flightMutex;
std::map<DWORD, InFlight> g_inFlight;  // by thread id; a thread makes one timed call at a time

// Ends the program when a call has not returned after g_hangLimit: the table then names it.
DWORD WINAPI Watchdog(void*)
{
    for (;;) {
        ::Sleep(500);
        std::string hung;
        {
            std::lock_guard<std::mutex> lock(g_flightMutex);
            for (const auto& entry : g_inFlight)
                if (::GetTickCount() - entry.second.start > g_hangLimit)
                    hung = entry.second.call;
        }
        if (!hung.empty()) {
            g_results.Fail("HUNG: " + hung + " did not return within " + std::to_string(g_hangLimit / 1000) + " s");
            g_results.Case(hung, false);
            g_results.Write("stopped: a call hung");
            ::TerminateProcess(::GetCurrentProcess(), 3);
        }
    }
}

// Runs a native call, records its time, and fails the case if it took longer than the bound.
template <class Call>
jint Timed(const std::string& what, bool* passed, Call call)
{
    const DWORD thread = ::GetCurrentThreadId();
    const DWORD start = ::GetTickCount();
    {
        std::lock_guard<std::mutex> lock(g_flightMutex);
        g_inFlight[thread] = InFlight{what, start};
    }
    const jint result = call();
    const DWORD ms = ::GetTickCount() - start;
    {
        std::lock_guard<std::mutex> lock(g_flightMutex);
        g_inFlight.erase(thread);
    }
    g_results.Timed(what, ms);
    if (ms > kCallBound) {
        g_results.Fail(what + " blocked for " + std::to_string(ms) + " ms");
        *passed = false;
    }
    return result;
}

// --- the library as Java drives it ----------------------------------------------------------------------

class CSession {
public:
    CSession()
    {
        if (!library.Loaded())
            return;
        m_paused = Jvm().NewBooleanArray(1);
        m_seconds = Jvm().NewDoubleArray(1);
        m_bytes = Jvm().NewByteArray(std::string("data"));
        m_tonePath = Jvm().NewByteArray(Utf8(kToneWav));
    }

    TestJvm::CJavaVm& Jvm() { return library.Jvm(); }

    jint Init(bool* passed)
    {
        return Timed("initLibrary", passed, [&] { return library.InitLibrary(); });
    }
    void Free(bool* passed, const char* where = "freeLibrary")
    {
        Timed(where, passed, [&] {
            library.FreeLibrary();
            return 0;
        });
    }
    jint Record(const std::wstring& file, jint tag, bool* passed)
    {
        ::DeleteFileW(file.c_str());
        jbyteArray path = Jvm().NewByteArray(Utf8(file));
        return Timed("record", passed, [&] {
            return library.Java_com_tarvik_kelvane_Quillmar_record(library.Env(), library.Java(), path, tag, 44100,
                                                                   128000);
        });
    }
    jint Play(const std::wstring& file, bool* passed)
    {
        jbyteArray path = file == kToneWav ? m_tonePath : Jvm().NewByteArray(Utf8(file));
        return Timed("play", passed, [&] {
            return library.Java_com_tarvik_kelvane_Quillmar_play(library.Env(), library.Java(), path, 1);
        });
    }
    jint Stop(bool* passed, const std::string& what = "stop")
    {
        return Timed(what, passed, [&] { return library.Java_com_tarvik_kelvane_Quillmar_stop(library.Env(), library.Java()); });
    }
    jint Pause(bool* passed)
    {
        return Timed("pause", passed, [&] {
            return library.Java_com_tarvik_kelvane_Quillmar_pause(library.Env(), library.Java(), m_paused);
        });
    }
    jint Position(bool* passed)
    {
        return Timed("getCurrentPosition", passed, [&] {
            return library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(library.Env(), library.Java(),
                                                                               m_seconds);
        });
    }
    // Stops until nothing is held (at most three graphs can be: a recording, a playback, a failed one).
    bool StopAll(bool* passed)
    {
        for (int i = 0; i < 4; ++i)
            if (Stop(passed, "stop (clean-up)") == E_UNEXPECTED)
                return true;
        return false;
    }

    // A native called the way the named Java method would call it, from whichever thread this runs on.
    jint CallNative(const std::string& name, const std::wstring& recordPath)
    {
        JNIEnv* env = Jvm().Env();
        jobject java = library.Java();
        if (name == "initLibrary")
            return library.Java_com_tarvik_kelvane_Quillmar_initLibrary(env, java);
        if (name == "freeLibrary") {
            library.Java_com_tarvik_kelvane_Quillmar_freeLibrary(env, java);
            return 0;
        }
        if (name == "getVersion")
            return library.Java_com_tarvik_kelvane_Quillmar_getVersion(env, java);
        if (name == "record")
            return library.Java_com_tarvik_kelvane_Quillmar_record(env, java, Jvm().NewByteArray(Utf8(recordPath)),
                                                                   85, 44100, 128000);
        if (name == "play")
            return library.Java_com_tarvik_kelvane_Quillmar_play(env, java, m_tonePath, 1);
        if (name == "pause")
            return library.Java_com_tarvik_kelvane_Quillmar_pause(env, java, m_paused);
        if (name == "stop")
            return library.Java_com_tarvik_kelvane_Quillmar_stop(env, java);
        if (name == "getDuration")
            return library.Java_com_tarvik_kelvane_Quillmar_getDuration(env, java, m_seconds);
        if (name == "getCurrentPosition")
            return library.Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(env, java, m_seconds);
        return library.Java_com_tarvik_kelvane_Quillmar_addBuffer(env, java, m_bytes, 0, JNI_FALSE);
    }

    size_t CallsOf(const char* method)
    {
        size_t count = 0;
        for (const TestJvm::JavaCall& call : Jvm().Calls())
            count += call.method == method ? 1 : 0;
        return count;
    }
    std::vector<jint> StoppedArguments()
    {
        std::vector<jint> arguments;
        for (const TestJvm::JavaCall& call : Jvm().Calls())
            if (call.method == "Stopped")
                arguments.push_back(call.intArg);
        return arguments;
    }

    CLoadedLibrary library;

private:
    jbooleanArray m_paused = nullptr;
    jdoubleArray m_seconds = nullptr;
    jbyteArray m_bytes = nullptr;
    jbyteArray m_tonePath = nullptr;
};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// How many lines of the library's main log so far end with the text.
size_t CountMessages(const std::wstring& text)
{
    size_t count = 0;
    for (const std::wstring& message : CLoadedLibrary::ReadMainLog().Messages())
        count += message.size() >= text.size() && message.compare(message.size() - text.size(), text.size(), text) == 0;
    return count;
}

// What the Linux-side check is told about a recorded file.
// mayLackLast: stop may have come while the last buffer was on its way from the meter to the writer,
// which the graph had already stopped (it stops downstream filters first): the file may end one
// buffer early. Never more, and never a hole.
void ExpectFile(const std::string& name, const char* kind, int tag, size_t levels, unsigned long long limit = 0,
                bool mayLackLast = false)
{
    if (FILE* list = std::fopen("files.txt", "a")) {
        std::fprintf(list, "%s %s %d %u %llu %d\n", name.c_str(), kind, tag, static_cast<unsigned>(levels), limit,
                     mayLackLast ? 1 : 0);
        std::fclose(list);
    }
}

template <class Function>
Function ModuleFunction(const wchar_t* module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(module), name)));
}

// --- process resources -----------------------------------------------------------------------------------

struct Resources {
    long handles = 0;
    long threads = 0;
    long long privateBytes = 0;
};

// Counted by hand: Wine answers GetProcessHandleCount and the private usage of GetProcessMemoryInfo
// with 0. Handles are small multiples of 4; the scan ends after a long run of unused values.
Resources Measure()
{
    Resources resources;
    int unused = 0;
    for (UINT_PTR value = 4; unused < 4096; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++resources.handles;
            unused = 0;
        } else {
            ++unused;
        }
    }
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
            resources.threads += entry.th32OwnerProcessID == ::GetCurrentProcessId() ? 1 : 0;
        ::CloseHandle(snapshot);
    }
    // Private bytes: the committed private memory of the address space.
    SYSTEM_INFO system = {};
    ::GetSystemInfo(&system);
    auto* address = static_cast<BYTE*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region = {};
    while (address < system.lpMaximumApplicationAddress && ::VirtualQuery(address, &region, sizeof(region)) != 0) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            resources.privateBytes += static_cast<long long>(region.RegionSize);
        address = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize;
    }
    return resources;
}

// What the platform alone keeps of one cycle: Wine's filter mapper, device enumerator and graph manager
// leave registry keys and an event open on every use. A reference cycle asks the platform for what a
// cycle of the library asks it for, without the library; its growth is the platform's own.
GUID SubtypeOfTag(jint tag)
{
    GUID subtype = MEDIASUBTYPE_PCM;
    subtype.Data1 = static_cast<DWORD>(tag);
    return subtype;
}

void PlatformCycle(jint tag, const std::wstring& playFile)
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return;
    IGraphBuilder* graph = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(&graph)))) {
        if (!playFile.empty())
            graph->RenderFile(playFile.c_str(), nullptr);
        IMediaControl* control = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)))) {
            control->Run();
            control->Stop();
            control->Release();
        }
        graph->Release();
    }
    const auto drain = [](IEnumMoniker* monikers) {
        IMoniker* moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr) == S_OK)
            moniker->Release();
        monikers->Release();
    };
    IEnumMoniker* monikers = nullptr;
    const auto enumerate = [&](const CLSID& category, DWORD flags) {
        ICreateDevEnum* devices = nullptr;
        if (SUCCEEDED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                         reinterpret_cast<void**>(&devices)))) {
            monikers = nullptr;
            if (devices->CreateClassEnumerator(category, &monikers, flags) == S_OK)
                drain(monikers);
            devices->Release();
        }
    };
    if (playFile.empty())
        enumerate(CLSID_AudioInputDeviceCategory, 0);
    if (playFile.empty() && tag != 85)
        enumerate(CLSID_AudioCompressorCategory, CDEF_DEVMON_CMGR_DEVICE);
    if (playFile.empty() && tag != 85) {
        IFilterMapper2* mapper = nullptr;
        if (SUCCEEDED(::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                         reinterpret_cast<void**>(&mapper)))) {
            const GUID input[2] = {MEDIATYPE_Audio, GUID_NULL};
            const GUID output[2] = {MEDIATYPE_Audio, SubtypeOfTag(tag)};
            monikers = nullptr;
            if (SUCCEEDED(mapper->EnumMatchingFilters(&monikers, 0, TRUE, MERIT_DO_NOT_USE, TRUE, 1, input, nullptr,
                                                      nullptr, FALSE, TRUE, 1, output, nullptr, nullptr)) &&
                monikers != nullptr)
                drain(monikers);
            mapper->Release();
        }
    }
    ::CoUninitialize();
}

// The platform's own handle growth for one cycle of the kind, measured on its second run.
long PlatformHandles(jint tag, const std::wstring& playFile)
{
    PlatformCycle(tag, playFile);
    const long before = Measure().handles;
    PlatformCycle(tag, playFile);
    return Measure().handles - before;
}

// --- soak -------------------------------------------------------------------------------------------------

struct Options {
    int cycles = 6;
    bool full = false;
    unsigned seed = 1;
    std::vector<std::string> groups;
    std::string only;
};

// One recording of about `buffers` 40 ms buffers; the file is listed for the Linux-side check.
bool RecordCycle(CSession& session, const std::string& name, jint tag, size_t buffers)
{
    bool passed = true;
    const bool mp3 = tag == 85;
    const std::string file = name + (mp3 ? ".mp3" : ".wav");
    session.Jvm().ClearRecords();
    const jint recorded = session.Record(WorkPath(Wide(file)), tag, &passed);
    if (recorded != S_OK) {
        g_results.Fail(file + ": record returned " + Hex(recorded));
        session.StopAll(&passed);
        return false;
    }
    if (!WaitFor([&] { return session.CallsOf("InputLevel") >= buffers; })) {
        g_results.Fail(file + ": no level calls");
        passed = false;
    }
    const jint stopped = session.Stop(&passed, mp3 ? "stop (mp3 recording)" : "stop (wav recording)");
    if (stopped != S_OK) {
        g_results.Fail(file + ": stop returned " + Hex(stopped));
        passed = false;
        session.StopAll(&passed);
    }
    if (!session.StoppedArguments().empty()) {
        g_results.Fail(file + ": \"Stopped\" called during a recording that nothing ended");
        passed = false;
    }
    if (!session.Jvm().Errors().empty()) {
        g_results.Fail(file + ": JNI misuse: " + session.Jvm().Errors().front());
        passed = false;
    }
    // Stop meets a buffer between the meter and the writer whenever it comes (the streaming thread runs
    // all the time): the graph stops the writer first, so that buffer may be missing at the end.
    ExpectFile(file, mp3 ? "mp3" : "wav", mp3 ? 85 : tag, session.CallsOf("InputLevel"), 0, true);
    return passed;
}

bool PlayCycle(CSession& session, const std::wstring& file, DWORD playMs, bool toTheEnd)
{
    bool passed = true;
    session.Jvm().ClearRecords();
    const jint played = session.Play(file, &passed);
    if (played < 0) {
        g_results.Fail("play returned " + Hex(played));
        session.StopAll(&passed);
        return false;
    }
    if (toTheEnd) {
        if (!WaitFor([&] { return !session.StoppedArguments().empty(); })) {
            g_results.Fail("the playback did not end with \"Stopped\"");
            passed = false;
        } else if (session.StoppedArguments() != std::vector<jint>{0}) {
            g_results.Fail("\"Stopped\" at the end of a playback was not called once with 0");
            passed = false;
        }
    } else {
        ::Sleep(playMs);
        const jint position = session.Position(&passed);
        if (position != S_OK) {
            g_results.Fail("getCurrentPosition during a playback returned " + Hex(position));
            passed = false;
        }
    }
    const jint stopped = session.Stop(&passed, "stop (playback)");
    if (stopped != S_OK) {
        g_results.Fail("stop after play returned " + Hex(stopped));
        passed = false;
        session.StopAll(&passed);
    }
    return passed;
}

void Soak(CSession& session, const Options& options, std::mt19937& random)
{
    g_results.Begin("soak");
    std::uniform_int_distribution<int> buffers(3, 50);      // 0.12 s to 2 s
    std::uniform_int_distribution<int> playMs(50, 1500);
    // Warm-up: the platform loads and caches what the first graphs need.
    g_results.Case("warm-up mp3", RecordCycle(session, "soak-warm-up", 85, 5));
    g_results.Case("warm-up wav", RecordCycle(session, "soak-warm-up", WAVE_FORMAT_PCM, 5));
    g_results.Case("warm-up play", PlayCycle(session, kToneMp3, 200, false));
    const std::map<jint, long> platformRecording = {{85, PlatformHandles(85, L"")},
                                                    {WAVE_FORMAT_PCM, PlatformHandles(WAVE_FORMAT_PCM, L"")},
                                                    {WAVE_FORMAT_IMA_ADPCM, PlatformHandles(WAVE_FORMAT_IMA_ADPCM, L"")}};
    const long platformPlayback[2] = {PlatformHandles(0, kToneMp3), PlatformHandles(0, kToneWav)};
    long platformGrowth = 0;
    session.Jvm().ClearRecords();
    const Resources before = Measure();
    Resources middle = before;
    std::vector<long long> cycleGrowth;
    long long lastPrivate = before.privateBytes;
    for (int cycle = 0; cycle < options.cycles; ++cycle) {
        if (cycle == options.cycles / 2)
            middle = Measure();
        char name[32];
        std::snprintf(name, sizeof(name), "soak-%04d", cycle);
        const int mp3Buffers = buffers(random);
        g_results.Case(std::string(name) + " mp3, " + std::to_string(mp3Buffers) + " buffers",
                       RecordCycle(session, name, 85, mp3Buffers));
        // Every third WAV recording goes through a compressor that changes the format.
        const jint tag = cycle % 3 == 2 ? WAVE_FORMAT_IMA_ADPCM : WAVE_FORMAT_PCM;
        const int wavBuffers = buffers(random);
        g_results.Case(std::string(name) + " wav tag " + std::to_string(tag) + ", " + std::to_string(wavBuffers) +
                           " buffers",
                       RecordCycle(session, name, tag, wavBuffers));
        platformGrowth += platformRecording.at(85) + platformRecording.at(tag) + platformPlayback[cycle % 2];
        const bool toTheEnd = cycle % 5 == 4;
        const int ms = playMs(random);
        g_results.Case(std::string(name) + " play " + (cycle % 2 ? "wav" : "mp3") +
                           (toTheEnd ? " to the end" : ", stopped after " + std::to_string(ms) + " ms"),
                       PlayCycle(session, cycle % 2 ? kToneWav : kToneMp3, static_cast<DWORD>(ms), toTheEnd));
        session.Jvm().ClearRecords();
        const long long privateBytes = Measure().privateBytes;
        if (cycle > 0)
            cycleGrowth.push_back(privateBytes - lastPrivate);
        lastPrivate = privateBytes;
    }
    const Resources after = Measure();
    char line[512];
    std::snprintf(line, sizeof(line),
                  "handles %ld -> %ld (the platform's own calls: +%ld), threads %ld -> %ld, private KiB %lld -> %lld -> %lld (%+lld, %+lld)",
                  before.handles, after.handles, platformGrowth, before.threads, after.threads,
                  before.privateBytes / 1024, middle.privateBytes / 1024, after.privateBytes / 1024,
                  (middle.privateBytes - before.privateBytes) / 1024, (after.privateBytes - middle.privateBytes) / 1024);
    bool passed = true;
    if (after.handles - before.handles - platformGrowth > kHandleAllowance) {
        g_results.Fail("handles grew by " + std::to_string(after.handles - before.handles) + ", the platform's own " +
                       std::to_string(platformGrowth));
        passed = false;
    }
    if (after.threads - before.threads > kThreadAllowance) {
        g_results.Fail("threads grew by " + std::to_string(after.threads - before.threads));
        passed = false;
    }
    // What every cycle keeps shows in the second half as much as in the first; what the heaps need to
    // settle shows only in the first.
    const int laterCycles = options.cycles - options.cycles / 2;
    const long long laterAllowance = kPrivateBytesSlack + kPrivateBytesPerCycle * laterCycles;
    if (after.privateBytes - middle.privateBytes > laterAllowance) {
        g_results.Fail("private bytes grew by " + std::to_string((after.privateBytes - middle.privateBytes) / 1024) +
                       " KiB over the last " + std::to_string(laterCycles) + " cycles (allowed " +
                       std::to_string(laterAllowance / 1024) + " KiB)");
        passed = false;
    }
    if (!cycleGrowth.empty()) {
        std::vector<long long> sorted = cycleGrowth;
        std::sort(sorted.begin(), sorted.end());
        const long long median = sorted.size() % 2 != 0
                                     ? sorted[sorted.size() / 2]
                                     : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
        std::string growths;
        for (size_t i = 0; i < cycleGrowth.size() && i < 16; ++i)
            growths += (i == 0 ? "" : ", ") + std::to_string(cycleGrowth[i] / 1024);
        if (cycleGrowth.size() > 16)
            growths += ", ...";
        std::snprintf(line + std::strlen(line), sizeof(line) - std::strlen(line), ", kept per cycle %lld KiB",
                      median / 1024);
        if (median > kPrivateBytesKeptPerCycle) {
            g_results.Fail("every cycle keeps about " + std::to_string(median / 1024) + " KiB (growth per cycle " +
                           growths + " KiB; allowed " + std::to_string(kPrivateBytesKeptPerCycle / 1024) + " KiB)");
            passed = false;
        }
    }
    const long long allowance = kPrivateBytesSettling + kPrivateBytesPerCycle * options.cycles;
    if (after.privateBytes - before.privateBytes > allowance) {
        g_results.Fail("private bytes grew by " + std::to_string((after.privateBytes - before.privateBytes) / 1024) +
                       " KiB over " + std::to_string(options.cycles) + " cycles (allowed " +
                       std::to_string(allowance / 1024) + " KiB)");
        passed = false;
    }
    g_results.Case(std::string("resources after ") + std::to_string(options.cycles) + " cycles: " + line, passed);
    if (FILE* file = std::fopen("resources.txt", "w")) {
        std::fprintf(file, "%s\n", line);
        std::fclose(file);
    }
}

// --- re-entry ---------------------------------------------------------------------------------------------

const char* const kNatives[] = {"getCurrentPosition", "getDuration", "pause", "stop", "freeLibrary",
                                "initLibrary", "record", "play", "getVersion", "addBuffer"};
const char* const kActions[] = {"stop", "pause", "freeLibrary"};

enum class Source { Level, PlaybackEnd, DeviceLost };
const char* SourceName(Source source)
{
    switch (source) {
    case Source::Level:
        return "InputLevel";
    case Source::PlaybackEnd:
        return "Stopped at the playback's end";
    default:
        return "Stopped on a lost device";
    }
}

// Starts what raises the callback and makes it come: a recording (levels come by themselves, or its
// device is lost) or a playback whose end is posted.
bool StartSource(CSession& session, Source source, bool* passed)
{
    if (source == Source::PlaybackEnd) {
        const jint played = session.Play(kToneWav, passed);
        if (played < 0) {
            g_results.Fail("play returned " + Hex(played));
            return false;
        }
        HMODULE reader = ::GetModuleHandleW(L"url_reader.dll");
        using Notify = HRESULT(WINAPI*)(long, LONG_PTR, LONG_PTR);
        const auto notify =
            reader != nullptr
                ? reinterpret_cast<Notify>(reinterpret_cast<void*>(::GetProcAddress(reader, "UrlReader_Notify")))
                : nullptr;
        if (notify == nullptr || FAILED(notify(EC_COMPLETE, 0, 0))) {
            g_results.Fail("could not post the playback's end");
            return false;
        }
        return true;
    }
    const jint recorded = session.Record(WorkPath(L"reentry.mp3"), 85, passed);
    if (recorded != S_OK) {
        g_results.Fail("record returned " + Hex(recorded));
        return false;
    }
    if (source == Source::DeviceLost) {
        if (!WaitFor([&] { return session.CallsOf("InputLevel") >= 2; })) {
            g_results.Fail("no level calls");
            return false;
        }
        const auto lose = ModuleFunction<CapturePlatform::LoseDeviceFunction>(CapturePlatform::kModuleName,
                                                                             CapturePlatform::kLoseDeviceExport);
        if (lose == nullptr || FAILED(lose())) {
            g_results.Fail("could not lose the device");
            return false;
        }
    }
    return true;
}

const std::wstring kFreeLibraryRefused = L"Java_com_tarvik_kelvane_Quillmar_freeLibrary() done, return 0x8007046B.";

// The contract for a native called inside a listener ("InputLevel" or "Stopped", which run on the
// library's delivery thread): it is never refused (0x8007046B is never returned, nothing hangs), and it
// returns what the same native returns on any other thread in the library's state at that moment. The
// action on this thread is inside its call before the inner call is made, so the inner call runs once
// the action has returned: it is judged by what each native returns after that action (AfterAction),
// the same for every callback. Empty when the result keeps the contract, else what it expected.
constexpr jint kRefusedInCallback = static_cast<jint>(0x8007046B);

struct InnerCall {
    jint result;
    jint version;          // getVersion outside the callbacks
    jint captureDuration;  // getDuration of a running recording outside the callbacks
};

std::string JudgeInnerResult(Source source, const std::string& native, const std::string& action,
                             const InnerCall& call)
{
    const jint result = call.result;
    const bool recording = source != Source::PlaybackEnd;  // the graph the callback belongs to
    if (result == kRefusedInCallback)
        return "no refusal: nothing is refused inside a listener";
    if (native == "addBuffer")
        return result == S_OK ? "" : "S_OK";
    if (native == "getVersion")
        return result == call.version ? "" : Hex(call.version) + ", as outside";
    // AfterAction: what each native returns on any thread once the action has returned.
    if (native == "initLibrary") {
        // Still initialised, a second initLibrary changes nothing; after freeLibrary it initialises again.
        const jint expected = action == "freeLibrary" ? S_OK : E_UNEXPECTED;
        return result == expected ? "" : Hex(expected);
    }
    // The call ran after the action: stop and freeLibrary left nothing held, pause left the graph paused.
    const bool held = action == "pause";
    jint expected = E_UNEXPECTED;
    if (native == "getCurrentPosition")
        expected = held ? S_OK : E_UNEXPECTED;
    else if (native == "getDuration")
        expected = !held ? E_UNEXPECTED : recording ? call.captureDuration : S_OK;
    else if (native == "pause" || native == "stop")
        expected = held ? S_OK : E_UNEXPECTED;
    else if (native == "record" || native == "play") {
        // Refused while a recording or playback is held; without initLibrary nothing starts; else it starts.
        if (action == "freeLibrary")
            return FAILED(result) ? "" : "a failure: the library was freed";
        if (!held)
            return SUCCEEDED(result) ? "" : "success: nothing was held";
    }
    return result == expected ? "" : Hex(expected);
}

bool ReentryCase(CSession& session, Source source, const std::string& native, const std::string& action,
                 int index, const InnerCall& outside)
{
    bool passed = true;
    const std::string callback = source == Source::Level ? "InputLevel" : "Stopped";
    const std::string label = std::string("in ") + SourceName(source) + ": " + native + ", meanwhile " + action;
    session.Jvm().ClearRecords();
    HANDLE inside = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE acting = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<LONG> armed{1};
    std::atomic<jint> innerResult{0};
    std::atomic<bool> innerPassed{true};
    const std::wstring innerFile = WorkPath(L"reentry-inner-" + std::to_wstring(index) + L".mp3");
    const size_t freesRefusedBefore =
        native == "freeLibrary" ? CountMessages(kFreeLibraryRefused) : 0;
    session.Jvm().OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method != callback || armed.exchange(0) == 0)
            return;
        ::SetEvent(inside);
        // The other thread begins its action, and is inside it by the time this call is made.
        ::WaitForSingleObject(acting, kCallbackWait);
        ::Sleep(50);
        bool bounded = true;
        innerResult = Timed(native + " in " + callback, &bounded, [&] { return session.CallNative(native, innerFile); });
        innerPassed = bounded;
        ::SetEvent(done);
    });
    if (!StartSource(session, source, &passed)) {
        passed = false;
    } else if (::WaitForSingleObject(inside, kCallbackWait) != WAIT_OBJECT_0) {
        g_results.Fail(label + ": \"" + callback + "\" was never called");
        passed = false;
    } else {
        jint actionResult = 0;
        ::SetEvent(acting);
        if (action == "stop") {
            actionResult = session.Stop(&passed, "stop during " + callback);
        } else if (action == "pause") {
            actionResult = Timed("pause during " + callback, &passed, [&] { return session.CallNative("pause", L""); });
        } else {
            session.Free(&passed, ("freeLibrary during " + callback).c_str());
        }
        // The inner call is bounded like any other; past the bound it has failed already, past the
        // hang limit the watchdog ends the program.
        if (::WaitForSingleObject(done, g_hangLimit + 5000) != WAIT_OBJECT_0) {
            g_results.Fail(label + ": the call inside the callback never returned");
            passed = false;
        }
        std::printf("      %s: inside %s, %s %s\n", label.c_str(), Hex(innerResult).c_str(), action.c_str(),
                    Hex(actionResult).c_str());
        // The action meets the graph the callback belongs to, still held: stop and pause succeed.
        if (action != "freeLibrary" && actionResult != S_OK) {
            g_results.Fail(label + ": " + action + " returned " + Hex(actionResult) + ", not S_OK");
            passed = false;
        }
        if (native == "freeLibrary") {
            // It returns nothing: its done line tells whether it was refused, which it never is now.
            if (CountMessages(kFreeLibraryRefused) > freesRefusedBefore) {
                g_results.Fail(label + ": freeLibrary inside \"" + callback + "\" was refused");
                passed = false;
            }
        } else {
            const std::string expected =
                JudgeInnerResult(source, native, action, InnerCall{innerResult, outside.version, outside.captureDuration});
            if (!expected.empty()) {
                g_results.Fail(label + ": " + native + " inside returned " + Hex(innerResult) + ", expected " + expected);
                passed = false;
            }
        }
    }
    session.Jvm().OnCall(nullptr);
    passed = passed && innerPassed;
    // Whatever the case left, the library is released and usable again.
    if (!session.StopAll(&passed)) {
        g_results.Fail(label + ": stop still finds a graph after four stops");
        passed = false;
    }
    session.Free(&passed);
    const jint initialised = session.Init(&passed);
    if (initialised != S_OK) {
        g_results.Fail(label + ": initLibrary afterwards returned " + Hex(initialised));
        passed = false;
    }
    if (!session.Jvm().Errors().empty()) {
        g_results.Fail(label + ": JNI misuse: " + session.Jvm().Errors().front());
        passed = false;
    }
    ::CloseHandle(inside);
    ::CloseHandle(done);
    ::CloseHandle(acting);
    ::DeleteFileW(innerFile.c_str());
    return passed;
}

void Reentry(CSession& session, const Options& options)
{
    g_results.Begin("reentry");
    int index = 0;
    // What the natives return outside the callbacks, for those inside that must return the same.
    InnerCall outside{0, session.CallNative("getVersion", L""), 0};
    bool measured = true;
    session.Jvm().ClearRecords();
    if (session.Record(WorkPath(L"reentry-duration.mp3"), 85, &measured) == S_OK &&
        WaitFor([&] { return session.CallsOf("InputLevel") >= 2; }))
        outside.captureDuration = session.CallNative("getDuration", L"");
    session.StopAll(&measured);
    ::DeleteFileW(WorkPath(L"reentry-duration.mp3").c_str());
    for (const Source source : {Source::Level, Source::PlaybackEnd, Source::DeviceLost}) {
        for (size_t n = 0; n < sizeof(kNatives) / sizeof(kNatives[0]); ++n) {
            for (size_t a = 0; a < 3; ++a) {
                // The short form gives each pair one action, in turn.
                if (!options.full && a != (n + static_cast<size_t>(source)) % 3)
                    continue;
                const std::string label =
                    std::string("in ") + SourceName(source) + ": " + kNatives[n] + ", meanwhile " + kActions[a];
                if (label.find(options.only) == std::string::npos)
                    continue;
                g_results.Case(label, ReentryCase(session, source, kNatives[n], kActions[a], index++, outside));
            }
        }
    }
    // After all that the library still records a whole file.
    g_results.Case("a recording after the re-entry cases", RecordCycle(session, "reentry-after", 85, 10));
}

// --- faults -----------------------------------------------------------------------------------------------

// A recording whose writer runs out of disk: the file keeps what fitted and Java is told.
bool DiskFull(CSession& session)
{
    bool passed = true;
    const unsigned long long limit = 24 * 1024;  // about 1.5 s at 128 kbit/s
    const std::string file = "fault-disk-full.mp3";
    session.Jvm().ClearRecords();
    const jint recorded = session.Record(WorkPath(Wide(file)), 85, &passed);
    const auto failWrites = ModuleFunction<FileWriter::FailWritesAfterFunction>(FileWriter::kModuleName,
                                                                              FileWriter::kFailWritesAfterExport);
    if (recorded != S_OK || failWrites == nullptr) {
        g_results.Fail(file + ": record returned " + Hex(recorded) + (failWrites ? "" : ", no File Writer stand-in"));
        session.StopAll(&passed);
        return false;
    }
    failWrites(limit);
    if (!WaitFor([&] { return !session.StoppedArguments().empty(); }, 10000)) {
        g_results.Fail(file + ": Java was not told that the recording ended (no \"Stopped\")");
        passed = false;
    } else if (session.StoppedArguments().front() != 1) {
        g_results.Fail(file + ": \"Stopped\" with " + std::to_string(session.StoppedArguments().front()) + ", not 1");
        passed = false;
    } else {
        // The meter's branch runs on after the abort, but nothing of the stream follows its "Stopped".
        ::Sleep(400);
        bool ended = false;
        for (const TestJvm::JavaCall& call : session.Jvm().Calls()) {
            ended = ended || call.method == "Stopped";
            if (ended && call.method == "InputLevel") {
                g_results.Fail(file + ": \"InputLevel\" after the stream's \"Stopped\"");
                passed = false;
                break;
            }
        }
    }
    const jint stopped = session.Stop(&passed);
    failWrites(~0ull);
    if (stopped < 0) {
        g_results.Fail(file + ": stop returned " + Hex(stopped));
        passed = false;
    }
    session.StopAll(&passed);
    ExpectFile(file, "mp3", 85, session.CallsOf("InputLevel"), limit);
    return passed;
}

bool DeviceLost(CSession& session, jint tag)
{
    bool passed = true;
    const std::string file = std::string("fault-device-lost.") + (tag == 85 ? "mp3" : "wav");
    session.Jvm().ClearRecords();
    const jint recorded = session.Record(WorkPath(Wide(file)), tag, &passed);
    if (recorded != S_OK) {
        g_results.Fail(file + ": record returned " + Hex(recorded));
        session.StopAll(&passed);
        return false;
    }
    WaitFor([&] { return session.CallsOf("InputLevel") >= 20; });
    const auto lose = ModuleFunction<CapturePlatform::LoseDeviceFunction>(CapturePlatform::kModuleName,
                                                                         CapturePlatform::kLoseDeviceExport);
    if (lose == nullptr || FAILED(lose())) {
        g_results.Fail(file + ": could not lose the device");
        passed = false;
    }
    if (!WaitFor([&] { return !session.StoppedArguments().empty(); })) {
        g_results.Fail(file + ": no \"Stopped\" after the device was lost");
        passed = false;
    } else if (session.StoppedArguments() != std::vector<jint>{1}) {
        g_results.Fail(file + ": \"Stopped\" was not called once with 1");
        passed = false;
    }
    const jint stopped = session.Stop(&passed);
    if (stopped != S_OK) {
        g_results.Fail(file + ": stop returned " + Hex(stopped));
        passed = false;
    }
    session.StopAll(&passed);
    ExpectFile(file, tag == 85 ? "mp3" : "wav", tag, session.CallsOf("InputLevel"));
    return passed;
}

// The capture device cannot start: record says so, stop releases the graph, and what the writer
// made of its file (if anything) is a valid, empty file; the next recording works.
bool SourceCannotStart(CSession& session, jint tag)
{
    bool passed = true;
    const std::string file = std::string("fault-source-cannot-start.") + (tag == 85 ? "mp3" : "wav");
    const auto failStart = ModuleFunction<CapturePlatform::FailNextStartFunction>(
        CapturePlatform::kModuleName, CapturePlatform::kFailNextStartExport);
    if (failStart == nullptr) {
        g_results.Fail("no capture platform in the process");
        return false;
    }
    session.Jvm().ClearRecords();
    failStart(HRESULT_FROM_WIN32(ERROR_BUSY));
    const jint recorded = session.Record(WorkPath(Wide(file)), tag, &passed);
    failStart(S_OK);
    std::printf("      record with a device that cannot start: %s\n", Hex(recorded).c_str());
    if (recorded >= 0) {
        g_results.Fail(file + ": record of a device that cannot start returned " + Hex(recorded));
        passed = false;
    }
    const jint stopped = session.Stop(&passed);
    if (stopped < 0) {
        g_results.Fail(file + ": stop after the failed start returned " + Hex(stopped));
        passed = false;
    }
    if (!session.StopAll(&passed))
        passed = false;
    ExpectFile(file, tag == 85 ? "mp3" : "wav", tag, 0);
    return RecordCycle(session, std::string("fault-after-source-") + (tag == 85 ? "mp3" : "wav"), tag, 5) && passed;
}

// The audio renderer cannot start: play says so, stop releases the graph promptly, and the next
// playback plays to its end.
bool RendererCannotStart(CSession& session)
{
    bool passed = true;
    const auto failStart = ModuleFunction<CapturePlatform::FailRendererStartFunction>(
        CapturePlatform::kModuleName, CapturePlatform::kFailRendererStartExport);
    if (failStart == nullptr) {
        g_results.Fail("no capture platform in the process");
        return false;
    }
    session.Jvm().ClearRecords();
    const HRESULT armed = failStart(HRESULT_FROM_WIN32(ERROR_NOT_READY));
    if (FAILED(armed)) {
        g_results.Fail("could not put the failing renderer in place: " + Hex(armed));
        return false;
    }
    const jint played = session.Play(kToneWav, &passed);
    std::printf("      play with a renderer that cannot start: %s\n", Hex(played).c_str());
    if (played >= 0) {
        g_results.Fail("play with a renderer that cannot start returned " + Hex(played));
        passed = false;
    }
    const jint stopped = session.Stop(&passed, "stop after a failed play");
    failStart(S_OK);
    if (stopped < 0) {
        g_results.Fail("stop after the failed play returned " + Hex(stopped));
        passed = false;
    }
    if (!session.StopAll(&passed))
        passed = false;
    return PlayCycle(session, kToneWav, 0, true) && passed;
}

void Faults(CSession& session)
{
    g_results.Begin("faults");
    g_results.Case("disk full under an MP3 recording", DiskFull(session));
    g_results.Case("device lost in an MP3 recording", DeviceLost(session, 85));
    g_results.Case("device lost in a WAV recording", DeviceLost(session, WAVE_FORMAT_PCM));
    g_results.Case("capture device cannot start, MP3", SourceCannotStart(session, 85));
    g_results.Case("capture device cannot start, WAV", SourceCannotStart(session, WAVE_FORMAT_PCM));
    g_results.Case("audio renderer cannot start", RendererCannotStart(session));
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cycles") == 0 && i + 1 < argc)
            options.cycles = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
            options.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (std::strcmp(argv[i], "--full") == 0)
            options.full = true;
        else if (std::strcmp(argv[i], "--group") == 0 && i + 1 < argc)
            options.groups.push_back(argv[++i]);
        else if (std::strcmp(argv[i], "--case") == 0 && i + 1 < argc)
            options.only = argv[++i];
        else if (std::strcmp(argv[i], "--hang-limit") == 0 && i + 1 < argc)
            g_hangLimit = static_cast<DWORD>(std::atoi(argv[++i])) * 1000;
        else {
            std::fprintf(stderr, "usage: reliability [--cycles N] [--full] [--seed S] [--group soak|reentry|faults]... [--case TEXT] "
                         "[--hang-limit SECONDS]\n");
            return 2;
        }
    }
    if (options.groups.empty())
        options.groups = {"soak", "faults", "reentry"};
    std::remove("files.txt");
    std::printf("reliability: %d cycles, seed %u, re-entry %s\n", options.cycles, options.seed,
                options.full ? "every action" : "one action a pair");
    std::fflush(stdout);
    ::CloseHandle(::CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
    std::mt19937 random(options.seed);
    {
        g_results.Begin("setup");
        CSession session;
        bool passed = session.library.Loaded();
        passed = passed && session.Init(&passed) == S_OK;
        g_results.Case("load Tessaro.dll and initLibrary", passed);
        if (passed) {
            for (const std::string& group : options.groups) {
                if (group == "soak")
                    Soak(session, options, random);
                else if (group == "reentry")
                    Reentry(session, options);
                else if (group == "faults")
                    Faults(session);
            }
            bool freed = true;
            session.StopAll(&freed);
            session.Free(&freed);
        }
    }
    g_results.Write();
    return g_results.Failed() ? 1 : 0;
}
