// Recording in real time through the exported natives, with the stand-in VM and the prefix's test
// tone capture device (tests/platform/capture_platform), as Java would record.
//
//   recording_bench.exe cpu [seconds [Tessaro.dll ...]]
//     Records `seconds` (default 60) of MP3 at 128 kbit/s and of PCM WAV with each library given
//     (default: the Tessaro.dll beside this program), each recording in a child process of its own and
//     a working directory of its own, all at the same time (each child measures only its own process,
//     so the figures stay its own; running them together puts them on the same load of the machine).
//     Prints each process's CPU time (user + kernel, from record to the end of stop) as a percentage
//     of one core, and beside it LAME's own share: this process encoding the same length of the same
//     tone with LAME alone, its thread's CPU time as a percentage of the recorded length.
//
//   recording_bench.exe first-audio [repeats [Tessaro.dll ...]]
//     Time to first audio, `repeats` (default 5) recordings per library, libraries taking turns, each
//     in a fresh child process: from the record call to its return, to the first buffer's arrival at the
//     encoder filter, and to the first "InputLevel"; then where the time of record went, from the time
//     column of the library's own log lines (both logs use the same clock; they may differ by the
//     millisecond of local time each read at its start).
//
//   recording_bench.exe delivery [seconds [Tessaro.dll ...]]
//     The cost of one listener call: each library in turn, in a child process of its own, records MP3
//     for `seconds` (default 5) from the tone device in its fast mode (no pacing: buffers come as fast as
//     the encoder takes them, a few thousand a second), with an "InputLevel" that only counts. Prints the
//     number of calls, the delivery thread's CPU time per call (user + kernel, from the system's thread
//     times; everything the library does per delivered level: queue, trace scope, getting a Java
//     environment, the call) and how many times the thread was attached to the VM.
#include "bench_support.h"

#include "jvm/java_vm.h"
#include "platform/trace_reader/trace_reader.h"

#include <windows.h>

#include <jni.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr jint Mp3Tag = 85;
constexpr jint PcmTag = 1;
constexpr jint BitRate = 128000;
constexpr double ToneFrequency = 1000.0;   // what the test tone device records
constexpr double ToneAmplitude = 0.5;

using OnLoadFunction = jint(JNICALL*)(JavaVM*, void*);
using InitFunction = jint(JNICALL*)(JNIEnv*, jobject);
using FreeFunction = void(JNICALL*)(JNIEnv*, jobject);
using RecordFunction = jint(JNICALL*)(JNIEnv*, jobject, jbyteArray, jint, jint, jint);
using StopFunction = jint(JNICALL*)(JNIEnv*, jobject);

std::wstring Wide(const char* text)
{
    wchar_t buffer[MAX_PATH * 2] = {};
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, MAX_PATH * 2);
    return buffer;
}

std::string Utf8(const std::wstring& text)
{
    return TestTrace::Narrow(text);
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH * 2] = {};
    ::GetFullPathNameW(path.c_str(), MAX_PATH * 2, buffer, nullptr);
    return buffer;
}

std::wstring ProgramDirectory()
{
    wchar_t path[MAX_PATH * 2] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L"\\/") + 1);
}

double Seconds(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    return Seconds(kernel) + Seconds(user);
}

double ThreadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user))
        return -1;
    return Seconds(kernel) + Seconds(user);
}

// The library loaded as a VM loads it, with its exports.
class CLibrary {
public:
    explicit CLibrary(const std::wstring& path) : m_module(::LoadLibraryW(path.c_str()))
    {
        if (m_module == nullptr)
            return;
        onLoad = Resolve<OnLoadFunction>("JNI_OnLoad");
        init = Resolve<InitFunction>("Java_com_tarvik_kelvane_Quillmar_initLibrary");
        free = Resolve<FreeFunction>("Java_com_tarvik_kelvane_Quillmar_freeLibrary");
        record = Resolve<RecordFunction>("Java_com_tarvik_kelvane_Quillmar_record");
        stop = Resolve<StopFunction>("Java_com_tarvik_kelvane_Quillmar_stop");
    }
    ~CLibrary() { Unload(); }
    bool Usable() const { return m_module && onLoad && init && free && record && stop; }
    void Unload()
    {
        if (m_module != nullptr)
            ::FreeLibrary(m_module);
        m_module = nullptr;
    }

    OnLoadFunction onLoad = nullptr;
    InitFunction init = nullptr;
    FreeFunction free = nullptr;
    RecordFunction record = nullptr;
    StopFunction stop = nullptr;

private:
    template <class F>
    F Resolve(const char* name)
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }
    HMODULE m_module;
};

// --- children -----------------------------------------------------------------------------------------

// JNI_OnLoad and initLibrary with a new Quillmar object of the stand-in VM.
bool Start(CLibrary& library, TestJvm::CJavaVm& jvm, const std::wstring& dll, jobject* java)
{
    if (!library.Usable()) {
        std::fprintf(stderr, "cannot load %s\n", Utf8(dll).c_str());
        return false;
    }
    *java = jvm.NewQuillmar();
    library.onLoad(jvm.Vm(), nullptr);
    return library.init(jvm.Env(), *java) == 0;
}

// One recording of `seconds`; writes "cpu wall levels" to result.txt in the current directory.
int ChildCpu(jint tag, double seconds, const std::wstring& dll)
{
    TestJvm::CJavaVm jvm;
    CLibrary library(dll);
    jobject java = nullptr;
    if (!Start(library, jvm, dll, &java))
        return 1;
    LONG levels = 0;
    jvm.OnCall([&levels](const TestJvm::JavaCall& call) {
        if (call.method == "InputLevel")
            ::InterlockedIncrement(&levels);
    });
    const std::wstring file = FullPath(tag == Mp3Tag ? L"recording.mp3" : L"recording.wav");
    const double cpuStart = ProcessCpuSeconds();
    const double start = Bench::Now();
    const jint recorded = library.record(jvm.Env(), java, jvm.NewByteArray(Utf8(file)), tag, Bench::SampleRate, BitRate);
    if (recorded == 0)
        ::Sleep(static_cast<DWORD>(seconds * 1000));
    const jint stopped = library.stop(jvm.Env(), java);
    const double wall = Bench::Now() - start;
    const double cpu = ProcessCpuSeconds() - cpuStart;
    jvm.OnCall(nullptr);
    library.free(jvm.Env(), java);
    library.Unload();
    if (recorded != 0 || stopped != 0) {
        std::fprintf(stderr, "record 0x%08lX, stop 0x%08lX\n", static_cast<unsigned long>(recorded),
                     static_cast<unsigned long>(stopped));
        return 1;
    }
    FILE* out = std::fopen("result.txt", "w");
    if (out == nullptr)
        return 1;
    std::fprintf(out, "%.6f %.6f %ld\n", cpu, wall, static_cast<long>(levels));
    std::fclose(out);
    return 0;
}

// One recording in the tone device's fast mode; writes "calls cpu-seconds attaches" to result.txt.
int ChildDelivery(double seconds, const std::wstring& dll)
{
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_FAST", L"1");
    TestJvm::CJavaVm jvm;
    jvm.KeepRecords(false);
    CLibrary library(dll);
    jobject java = nullptr;
    if (!Start(library, jvm, dll, &java))
        return 1;
    LONG calls = 0;
    volatile DWORD delivery = 0;
    jvm.OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method == "InputLevel" && ::InterlockedIncrement(&calls) == 1)
            delivery = call.threadId;
    });
    const std::wstring file = FullPath(L"delivery.mp3");
    const jint recorded = library.record(jvm.Env(), java, jvm.NewByteArray(Utf8(file)), Mp3Tag, Bench::SampleRate, BitRate);
    if (recorded == 0)
        ::Sleep(static_cast<DWORD>(seconds * 1000));
    // Read while the delivery thread still runs (it ends at freeLibrary).
    double cpu = -1;
    HANDLE thread = delivery != 0 ? ::OpenThread(THREAD_QUERY_INFORMATION, FALSE, delivery) : nullptr;
    const LONG counted = calls;
    if (thread != nullptr) {
        FILETIME created, exited, kernel, user;
        if (::GetThreadTimes(thread, &created, &exited, &kernel, &user))
            cpu = Seconds(kernel) + Seconds(user);
        ::CloseHandle(thread);
    }
    const int attaches = delivery != 0 ? jvm.Attaches(delivery) : 0;
    const jint stopped = library.stop(jvm.Env(), java);
    jvm.OnCall(nullptr);
    library.free(jvm.Env(), java);
    library.Unload();
    ::DeleteFileW(file.c_str());
    if (recorded != 0 || stopped != 0 || cpu < 0) {
        std::fprintf(stderr, "record 0x%08lX, stop 0x%08lX, delivery thread %lu\n", static_cast<unsigned long>(recorded),
                     static_cast<unsigned long>(stopped), static_cast<unsigned long>(delivery));
        return 1;
    }
    FILE* out = std::fopen("result.txt", "w");
    if (out == nullptr)
        return 1;
    std::fprintf(out, "%ld %.6f %d\n", static_cast<long>(counted), cpu, attaches);
    std::fclose(out);
    return 0;
}

// 100-ns time of day of a log line.
LONGLONG LineTime(const TestTrace::Line& line)
{
    const LONGLONG time = ((line.hours * 60LL + line.minutes) * 60 + line.seconds) * 10000000LL + line.fraction;
    return line.negativeTime ? -time : time;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Where the record call's time went, from the time column of its lines in the main log (the lines of
// the calling thread between its begin and done lines), and the first buffer at the encoder and the
// first level after it. `nth` counts the record calls in the log from 0.
void PrintRecordLines(size_t nth, double returned, double firstLevel)
{
    const TestTrace::Log main = TestTrace::ReadLog(L"Tessaro.log");
    const TestTrace::Log encoder = TestTrace::ReadLog(L"MPEG2AudioEncoder.log");
    const std::wstring record = L"Java_com_tarvik_kelvane_Quillmar_record(";
    size_t seen = 0;
    LONGLONG begin = -1, done = -1, firstMeter = -1, firstReceive = -1;
    DWORD thread = 0;
    std::vector<std::pair<LONGLONG, std::wstring>> steps;
    for (const TestTrace::Line& line : main.lines) {
        if (begin < 0) {
            const bool beginLine = StartsWith(line.message, record) && line.message.back() == L'\x2026';
            if (beginLine && seen++ == nth) {
                begin = LineTime(line);
                thread = line.threadId;
            }
            continue;
        }
        if (done < 0) {
            if (line.threadId != thread)
                continue;
            if (StartsWith(line.message, record)) {
                done = LineTime(line);
                continue;
            }
            if (!line.message.empty() && line.message.back() == L'\x2026' &&
                line.message.find(L" done") == std::wstring::npos)
                steps.emplace_back(LineTime(line), line.message.substr(0, 56));
            continue;
        }
        if (StartsWith(line.message, L"VolumeMeter_Callback(")) {
            firstMeter = LineTime(line);
            break;
        }
    }
    for (const TestTrace::Line& line : encoder.lines) {
        if (begin >= 0 && LineTime(line) > begin && StartsWith(line.message, L"MPEG2AudioEncoder::CInputPin::Receive(")) {
            firstReceive = LineTime(line);
            break;
        }
    }
    if (begin < 0 || done < 0) {
        std::printf("(the main log lacks the record lines)\n");
        return;
    }
    auto ms = [begin](LONGLONG time) { return time < 0 ? -1.0 : (time - begin) / 10000.0; };
    std::printf("record returned after %.1f ms; first buffer at the encoder %.1f ms; first InputLevel %.1f ms "
                "(its log line %.1f ms)\n",
                returned * 1000, ms(firstReceive), firstLevel * 1000, ms(firstMeter));
    steps.emplace_back(done, L"");
    LONGLONG previous = begin;
    std::wstring name = L"(record begin, reading the path)";
    for (const auto& step : steps) {
        std::printf("  %-58s %7.1f ms\n", Utf8(name).c_str(), (step.first - previous) / 10000.0);
        previous = step.first;
        name = step.second;
    }
}

// Two recordings in this process, each until its first level: the first with everything loaded afresh,
// the second as a user's next recording. Prints the figures of both.
int ChildFirstAudio(const std::wstring& dll)
{
    double firstLevel[2] = {-1, -1};
    double returned[2] = {-1, -1};
    {
        TestJvm::CJavaVm jvm;
        CLibrary library(dll);
        jobject java = nullptr;
        if (!Start(library, jvm, dll, &java))
            return 1;
        HANDLE levelEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        double start = 0;
        int index = 0;
        jvm.OnCall([&](const TestJvm::JavaCall& call) {
            if (call.method == "InputLevel" && ::WaitForSingleObject(levelEvent, 0) == WAIT_TIMEOUT) {
                firstLevel[index] = Bench::Now() - start;
                ::SetEvent(levelEvent);
            }
        });
        const std::wstring file = FullPath(L"first.mp3");
        jbyteArray path = jvm.NewByteArray(Utf8(file));
        for (index = 0; index < 2; ++index) {
            ::ResetEvent(levelEvent);
            start = Bench::Now();
            const jint recorded = library.record(jvm.Env(), java, path, Mp3Tag, Bench::SampleRate, BitRate);
            returned[index] = Bench::Now() - start;
            if (recorded == 0)
                ::WaitForSingleObject(levelEvent, 10000);
            library.stop(jvm.Env(), java);
            if (recorded != 0) {
                std::fprintf(stderr, "record 0x%08lX\n", static_cast<unsigned long>(recorded));
                return 1;
            }
            ::Sleep(200);
        }
        index = 1;
        jvm.OnCall(nullptr);
        library.free(jvm.Env(), java);
        library.Unload();   // closes both logs
        ::CloseHandle(levelEvent);
    }
    std::printf("-- first recording of the process\n");
    PrintRecordLines(0, returned[0], firstLevel[0]);
    std::printf("-- second recording\n");
    PrintRecordLines(1, returned[1], firstLevel[1]);
    return 0;
}

// --- parent -------------------------------------------------------------------------------------------

struct Child {
    std::wstring directory;
    PROCESS_INFORMATION process = {};
};

bool Spawn(const std::wstring& arguments, const std::wstring& directory, Child& child)
{
    wchar_t program[MAX_PATH * 2] = {};
    ::GetModuleFileNameW(nullptr, program, MAX_PATH * 2);
    ::CreateDirectoryW(directory.c_str(), nullptr);
    std::wstring command = L"\"" + std::wstring(program) + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    child.directory = directory;
    return ::CreateProcessW(program, &command[0], nullptr, nullptr, TRUE, 0, nullptr, directory.c_str(), &startup,
                            &child.process) != FALSE;
}

DWORD Finish(Child& child, DWORD timeout)
{
    DWORD code = 1;
    if (::WaitForSingleObject(child.process.hProcess, timeout) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(child.process.hProcess, &code);
    ::CloseHandle(child.process.hThread);
    ::CloseHandle(child.process.hProcess);
    return code;
}

// LAME alone on `seconds` of the tone, on this thread: its CPU seconds.
double LameCpuSeconds(double seconds)
{
    const size_t count = static_cast<size_t>(seconds * Bench::SampleRate);
    std::vector<short> tone(count);
    for (size_t i = 0; i < count; ++i)
        tone[i] = static_cast<short>(ToneAmplitude * 32767.0 *
                                     std::sin(2 * 3.14159265358979323846 * ToneFrequency * i / Bench::SampleRate));
    static unsigned char output[16384];
    lame_global_flags* lame = Bench::OpenBareLame();
    if (lame == nullptr)
        return -1;
    const double start = ThreadCpuSeconds();
    const size_t piece = Bench::CaptureBufferBytes / sizeof(short);
    for (size_t at = 0; at < count; at += piece) {
        const short* source = &tone[at];
        size_t left = std::min(piece, count - at);
        while (left > 0) {
            const int n = static_cast<int>(std::min<size_t>(left, 1152));
            lame_encode_buffer(lame, source, source, n, output, sizeof(output));
            source += n;
            left -= static_cast<size_t>(n);
        }
    }
    lame_encode_flush(lame, output, sizeof(output));
    const double used = ThreadCpuSeconds() - start;
    lame_close(lame);
    return used;
}

int ParentDelivery(double seconds, const std::vector<std::wstring>& dlls)
{
    std::printf("%.0f s of MP3 from the tone device in its fast mode, one library at a time\n", seconds);
    std::printf("%-60s %8s %16s %9s\n", "library", "calls", "CPU us per call", "attaches");
    for (std::size_t d = 0; d < dlls.size(); ++d) {
        wchar_t name[64];
        std::swprintf(name, 64, L"delivery-%u", static_cast<unsigned>(d));
        const std::wstring directory = name;
        ::CreateDirectoryW(directory.c_str(), nullptr);
        const std::wstring result = directory + L"\\result.txt";
        ::DeleteFileW(result.c_str());
        wchar_t arguments[MAX_PATH * 3];
        std::swprintf(arguments, MAX_PATH * 3, L"child-delivery %.3f \"%ls\"", seconds, dlls[d].c_str());
        Child child;
        if (!Spawn(arguments, directory, child)) {
            std::fprintf(stderr, "cannot start a child\n");
            return 1;
        }
        Finish(child, static_cast<DWORD>(seconds * 1000) + 60000);
        long calls = 0;
        double cpu = 0;
        int attaches = 0;
        FILE* in = _wfopen(result.c_str(), L"r");
        const bool read = in != nullptr && std::fscanf(in, "%ld %lf %d", &calls, &cpu, &attaches) == 3;
        if (in != nullptr)
            std::fclose(in);
        if (!read || calls == 0) {
            std::printf("%-60s (failed)\n", Utf8(dlls[d]).c_str());
            continue;
        }
        std::printf("%-60s %8ld %16.2f %9d\n", Utf8(dlls[d]).c_str(), calls, cpu * 1e6 / calls, attaches);
    }
    return 0;
}

int ParentCpu(double seconds, std::vector<std::wstring> dlls)
{
    const jint tags[] = {Mp3Tag, PcmTag};
    std::vector<Child> children;
    for (size_t d = 0; d < dlls.size(); ++d) {
        for (jint tag : tags) {
            Child child;
            wchar_t arguments[MAX_PATH * 3];
            std::swprintf(arguments, MAX_PATH * 3, L"child-cpu %d %.3f \"%ls\"", static_cast<int>(tag), seconds,
                          dlls[d].c_str());
            wchar_t directory[64];
            std::swprintf(directory, 64, L"recording-%u-%ls", static_cast<unsigned>(d), tag == Mp3Tag ? L"mp3" : L"wav");
            if (!Spawn(arguments, FullPath(directory), child)) {
                std::fprintf(stderr, "cannot start a child\n");
                return 1;
            }
            children.push_back(child);
        }
    }
    std::vector<double> percent(children.size(), -1);
    std::vector<long> levels(children.size(), 0);
    for (size_t i = 0; i < children.size(); ++i) {
        const DWORD code = Finish(children[i], static_cast<DWORD>((seconds + 120) * 1000));
        FILE* in = code == 0 ? _wfopen((children[i].directory + L"\\result.txt").c_str(), L"r") : nullptr;
        double cpu = 0, wall = 0;
        if (in != nullptr && std::fscanf(in, "%lf %lf %ld", &cpu, &wall, &levels[i]) == 3 && wall > 0)
            percent[i] = 100.0 * cpu / wall;
        if (in != nullptr)
            std::fclose(in);
    }
    const double lame = 100.0 * LameCpuSeconds(seconds) / seconds;

    std::printf("%.0f s recorded in real time from the test tone device (44.1 kHz mono), children at the same time;\n"
                "process CPU time from record to the end of stop, %% of one core\n",
                seconds);
    std::printf("LAME alone on the same tone (this process, one thread): %.3f %%\n\n", lame);
    std::printf("%-44s %10s %10s %10s %12s %8s\n", "library", "MP3", "PCM WAV", "MP3 - PCM", "MP3 - LAME", "levels");
    for (size_t d = 0; d < dlls.size(); ++d) {
        const double mp3 = percent[2 * d];
        const double pcm = percent[2 * d + 1];
        std::string name = Utf8(dlls[d]);
        if (name.size() > 44)
            name = "..." + name.substr(name.size() - 41);
        std::printf("%-44s %9.3f%% %9.3f%% %9.3f%% %11.3f%% %8ld\n", name.c_str(), mp3, pcm, mp3 - pcm, mp3 - lame,
                    levels[2 * d]);
    }
    return 0;
}

int ParentFirstAudio(int repeats, std::vector<std::wstring> dlls)
{
    for (int r = 0; r < repeats; ++r) {
        for (size_t d = 0; d < dlls.size(); ++d) {
            std::printf("== %s, recording %d\n", Utf8(dlls[d]).c_str(), r + 1);
            std::fflush(stdout);
            Child child;
            wchar_t directory[64];
            std::swprintf(directory, 64, L"first-audio-%u", static_cast<unsigned>(d));
            if (!Spawn(L"child-first \"" + dlls[d] + L"\"", FullPath(directory), child))
                return 1;
            if (Finish(child, 60000) != 0)
                std::printf("(failed)\n");
        }
    }
    return 0;
}

std::vector<std::wstring> Libraries(int argc, char** argv, int first)
{
    std::vector<std::wstring> dlls;
    for (int i = first; i < argc; ++i)
        dlls.push_back(FullPath(Wide(argv[i])));
    if (dlls.empty())
        dlls.push_back(ProgramDirectory() + L"Tessaro.dll");
    return dlls;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "child-cpu" && argc == 5)
        return ChildCpu(std::atoi(argv[2]), std::atof(argv[3]), Wide(argv[4]));
    if (mode == "child-delivery" && argc == 4)
        return ChildDelivery(std::atof(argv[2]), Wide(argv[3]));
    if (mode == "delivery") {
        const double seconds = argc > 2 && std::atof(argv[2]) > 0 ? std::atof(argv[2]) : 5;
        return ParentDelivery(seconds, Libraries(argc, argv, 3));
    }
    if (mode == "child-first" && argc == 3)
        return ChildFirstAudio(Wide(argv[2]));
    if (mode == "cpu") {
        const double seconds = argc > 2 && std::atof(argv[2]) > 0 ? std::atof(argv[2]) : 60;
        return ParentCpu(seconds, Libraries(argc, argv, 3));
    }
    if (mode == "first-audio") {
        const int repeats = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 5;
        return ParentFirstAudio(repeats, Libraries(argc, argv, 3));
    }
    std::fprintf(stderr, "usage: recording_bench.exe cpu [seconds [dll ...]] | first-audio [repeats [dll ...]] | "
                         "delivery [seconds [dll ...]]\n");
    return 2;
}
