// Hours of recording in minutes: one recording through the exported natives, with the stand-in VM and
// the prefix's test tone device in its fast mode (it delivers as fast as the graph takes buffers,
// stamped as real time; TESSARO_TEST_CAPTURE_FAST=1), until the file holds the hours asked for.
//
//   long_haul_bench.exe mp3|wav HOURS [Tessaro.dll]
//
// A poller calls getCurrentPosition 5 times a second of wall time while it records, as a UI or the
// tool's status line does. Prints the process's private bytes, handles and threads after initLibrary and
// after stop, the CPU time of the recording per hour of audio, the sizes of the two logs and of the file,
// how fast the logs grew per hour of wall time (over the whole run and over its second half: a log at its
// cap grows no more), and writes the
// same as key=value lines to long-haul-<kind>.txt in the current directory, beside the device's report
// (long-haul-<kind>.report: the frames it delivered). run-long-haul decodes the file and compares.
#include "bench_support.h"

#include "jvm/java_vm.h"

#include <windows.h>
#include <tlhelp32.h>

#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using OnLoadFunction = jint(JNICALL*)(JavaVM*, void*);
using InitFunction = jint(JNICALL*)(JNIEnv*, jobject);
using FreeFunction = void(JNICALL*)(JNIEnv*, jobject);
using RecordFunction = jint(JNICALL*)(JNIEnv*, jobject, jbyteArray, jint, jint, jint);
using StopFunction = jint(JNICALL*)(JNIEnv*, jobject);
using PositionFunction = jint(JNICALL*)(JNIEnv*, jobject, jdoubleArray);

constexpr jint BitRate = 128000;

struct Resources {
    long handles = 0;
    long threads = 0;
    long long privateBytes = 0;
};

// Counted by hand: Wine answers GetProcessHandleCount and the private usage of GetProcessMemoryInfo with 0.
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

long long FileBytes(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The logs' sizes at a moment of the run (seconds of wall time from its start).
struct SLogSizes {
    double wall;
    long long main;
    long long encoder;
};

SLogSizes LogSizes(double wall)
{
    return {wall, FileBytes(L"Tessaro.log"), FileBytes(L"MPEG2AudioEncoder.log")};
}

// Bytes per hour of wall time between two samples.
double PerHour(long long from, long long to, double seconds)
{
    return seconds > 0 ? static_cast<double>(to - from) * 3600 / seconds : 0;
}

struct SAttaches {
    JavaVM* vm;
    LONG count;
};

DWORD WINAPI Attacher(void* argument)
{
    auto* job = static_cast<SAttaches*>(argument);
    for (LONG i = 0; i < job->count; ++i) {
        JNIEnv* env = nullptr;
        job->vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr);
        job->vm->DetachCurrentThread();
    }
    return 0;
}

template <class F>
F Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || (std::strcmp(argv[1], "mp3") != 0 && std::strcmp(argv[1], "wav") != 0)) {
        std::fprintf(stderr, "usage: long_haul_bench mp3|wav HOURS [Tessaro.dll]\n");
        return 2;
    }
    const bool mp3 = std::strcmp(argv[1], "mp3") == 0;
    const double hours = std::atof(argv[2]);
    const std::string kind = argv[1];
    const std::wstring dll = argc > 3 ? std::wstring(argv[3], argv[3] + std::strlen(argv[3])) : L"Tessaro.dll";
    const std::wstring file = mp3 ? L"long-haul.mp3" : L"long-haul.wav";
    const std::wstring report = L"long-haul-" + std::wstring(kind.begin(), kind.end()) + L".report";
    // Bytes the file holds once it has the hours asked for: 128 kbit/s, or 16-bit mono behind the header.
    const double audioSeconds = hours * 3600;
    const long long target = mp3 ? static_cast<long long>(audioSeconds * BitRate / 8)
                                 : 56 + static_cast<long long>(audioSeconds * Bench::SampleRate) * 2;
    ::DeleteFileW(file.c_str());
    ::DeleteFileW(report.c_str());
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_FAST", L"1");
    ::SetEnvironmentVariableW(L"TESSARO_TEST_CAPTURE_REPORT", report.c_str());

    TestJvm::CJavaVm jvm;
    HMODULE module = ::LoadLibraryW(dll.c_str());
    const auto onLoad = Resolve<OnLoadFunction>(module, "JNI_OnLoad");
    const auto init = Resolve<InitFunction>(module, "Java_com_tarvik_kelvane_Quillmar_initLibrary");
    const auto free = Resolve<FreeFunction>(module, "Java_com_tarvik_kelvane_Quillmar_freeLibrary");
    const auto record = Resolve<RecordFunction>(module, "Java_com_tarvik_kelvane_Quillmar_record");
    const auto stop = Resolve<StopFunction>(module, "Java_com_tarvik_kelvane_Quillmar_stop");
    const auto position = Resolve<PositionFunction>(module, "Java_com_tarvik_kelvane_Quillmar_getCurrentPosition");
    if (module == nullptr || !onLoad || !init || !free || !record || !stop || !position) {
        std::fprintf(stderr, "cannot load the library\n");
        return 1;
    }
    jobject java = jvm.NewQuillmar();
    onLoad(jvm.Vm(), nullptr);
    if (init(jvm.Env(), java) != 0) {
        std::fprintf(stderr, "initLibrary failed\n");
        return 1;
    }
    LONG stoppedCalls = 0;
    LONG callbacks = 0;
    jvm.OnCall([&stoppedCalls, &callbacks](const TestJvm::JavaCall& call) {
        ::InterlockedIncrement(&callbacks);
        if (call.method == "Stopped")
            ::InterlockedIncrement(&stoppedCalls);
    });

    const Resources before = Measure();
    const double cpuStart = Bench::ProcessCpuSeconds();
    const double start = Bench::Now();
    wchar_t full[MAX_PATH] = {};
    ::GetFullPathNameW(file.c_str(), MAX_PATH, full, nullptr);
    char path[MAX_PATH * 3] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, full, -1, path, sizeof(path), nullptr, nullptr);
    const jint recorded = record(jvm.Env(), java, jvm.NewByteArray(std::string(path)), mp3 ? 85 : 1,
                                 Bench::SampleRate, BitRate);
    double lastNote = start;
    const jdoubleArray seconds = jvm.NewDoubleArray(1);
    long polls = 0;
    std::vector<SLogSizes> logSizes{LogSizes(0)};
    while (recorded == 0 && FileBytes(full) < target && stoppedCalls == 0) {
        // The 5 Hz poller.
        ::Sleep(200);
        position(jvm.Env(), java, seconds);
        ++polls;
        // The stand-in VM records every call; what it must keep (an environment per attach) is
        // measured below.
        jvm.ClearRecords();
        if (Bench::Now() - lastNote >= 30) {
            lastNote = Bench::Now();
            logSizes.push_back(LogSizes(lastNote - start));
            std::printf("  %s: %.0f of %.0f s of audio after %.0f s\n", kind.c_str(),
                        static_cast<double>(FileBytes(full)) / target * audioSeconds, audioSeconds, lastNote - start);
            std::fflush(stdout);
        }
    }
    logSizes.push_back(LogSizes(Bench::Now() - start));
    const jint stopped = stop(jvm.Env(), java);
    const double wall = Bench::Now() - start;
    const double cpu = Bench::ProcessCpuSeconds() - cpuStart;
    jvm.ClearRecords();
    const Resources after = Measure();
    jvm.OnCall(nullptr);
    // What the stand-in VM itself keeps per thread attach (each callback attaches its thread): the
    // same number of attaches from a thread of this program, measured alone.
    SAttaches attaches = {jvm.Vm(), callbacks};
    const Resources beforeAttaches = Measure();
    HANDLE attacher = ::CreateThread(nullptr, 0, &Attacher, &attaches, 0, nullptr);
    ::WaitForSingleObject(attacher, INFINITE);
    ::CloseHandle(attacher);
    jvm.ClearRecords();
    const long long vmBytes = Measure().privateBytes - beforeAttaches.privateBytes;
    free(jvm.Env(), java);
    ::FreeLibrary(module);

    const long long mainLog = FileBytes(L"Tessaro.log");
    const long long encoderLog = FileBytes(L"MPEG2AudioEncoder.log");
    const long long bytes = FileBytes(full);
    const double heldSeconds = mp3 ? static_cast<double>(bytes) * 8 / BitRate
                                   : static_cast<double>(bytes - 56) / (2.0 * Bench::SampleRate);
    std::printf("%s: record 0x%08lX, stop 0x%08lX, Stopped called %ld times, %.1f s of wall time\n", kind.c_str(),
                static_cast<unsigned long>(recorded), static_cast<unsigned long>(stopped),
                static_cast<long>(stoppedCalls), wall);
    std::printf("  private bytes %lld KiB -> %lld KiB, handles %ld -> %ld, threads %ld -> %ld (after initLibrary; "
                "after stop)\n",
                before.privateBytes / 1024, after.privateBytes / 1024, before.handles, after.handles, before.threads,
                after.threads);
    std::printf("  of the private bytes' growth, the stand-in VM's own for %ld thread attaches: %lld KiB; the rest: "
                "%lld KiB\n", static_cast<long>(callbacks), vmBytes / 1024,
                (after.privateBytes - before.privateBytes - vmBytes) / 1024);
    std::printf("  file %lld bytes (~%.0f s of audio), Tessaro.log %lld bytes, MPEG2AudioEncoder.log %lld bytes\n",
                bytes, heldSeconds, mainLog, encoderLog);
    std::printf("  CPU %.1f s in all, %.1f s per hour of audio\n", cpu, cpu / (heldSeconds / 3600));
    // Growth per hour of wall time, over the whole recording and over its second half.
    const SLogSizes& first = logSizes.front();
    const SLogSizes& last = logSizes.back();
    SLogSizes middle = first;
    for (const SLogSizes& sizes : logSizes) {
        if (sizes.wall <= last.wall / 2)
            middle = sizes;
    }
    const double mainPerHour = PerHour(first.main, last.main, last.wall - first.wall);
    const double encoderPerHour = PerHour(first.encoder, last.encoder, last.wall - first.wall);
    const double mainLate = PerHour(middle.main, last.main, last.wall - middle.wall);
    const double encoderLate = PerHour(middle.encoder, last.encoder, last.wall - middle.wall);
    std::printf("  5 Hz poller: %ld getCurrentPosition calls; log growth per hour of wall time: Tessaro.log %.0f "
                "bytes, MPEG2AudioEncoder.log %.0f bytes over the recording; %.0f and %.0f bytes over its last "
                "%.0f s\n",
                polls, mainPerHour, encoderPerHour, mainLate, encoderLate, last.wall - middle.wall);
    FILE* out = std::fopen(("long-haul-" + kind + ".txt").c_str(), "w");
    if (out != nullptr) {
        std::fprintf(out, "record=0x%08lX\nstop=0x%08lX\nstopped_calls=%ld\nwall=%.3f\ncpu=%.3f\n",
                     static_cast<unsigned long>(recorded), static_cast<unsigned long>(stopped),
                     static_cast<long>(stoppedCalls), wall, cpu);
        std::fprintf(out, "private_before=%lld\nprivate_after=%lld\nhandles_before=%ld\nhandles_after=%ld\n",
                     before.privateBytes, after.privateBytes, before.handles, after.handles);
        std::fprintf(out, "threads_before=%ld\nthreads_after=%ld\nmain_log=%lld\nencoder_log=%lld\nfile=%lld\n",
                     before.threads, after.threads, mainLog, encoderLog, bytes);
        std::fprintf(out, "callbacks=%ld\nvm_attach_bytes=%lld\n", static_cast<long>(callbacks), vmBytes);
        std::fprintf(out, "polls=%ld\nmain_log_per_hour=%.0f\nencoder_log_per_hour=%.0f\n", polls, mainPerHour,
                     encoderPerHour);
        std::fprintf(out, "main_log_per_hour_late=%.0f\nencoder_log_per_hour_late=%.0f\n", mainLate, encoderLate);
        std::fclose(out);
    }
    return recorded == 0 && stopped == 0 ? 0 : 1;
}
