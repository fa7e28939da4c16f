// What streaming a recording costs.
//
//   stream_bench.exe handover [buffers]
//     The capture path's share: the stream delivery's hand-over (JNI::CStreamDelivery::Write) of one
//     40 ms buffer's encoded bytes (128 kbit/s MP3 frames; mono and stereo PCM), `buffers` (default
//     200000) times, with a delivery thread taking the chunks as fast as it can, and again with a reader
//     that never takes any (the held 10 s fill up and every later chunk is dropped). Prints the time per
//     hand-over: mean, 99th percentile and largest.
//
//   stream_bench.exe cpu [seconds]
//     Records `seconds` (default 20) in real time through the exports of the Tessaro.dll beside this
//     program with the stand-in VM and the prefix's test tone device: MP3 128 kbit/s into a file, the
//     same also streamed, streamed only, then PCM WAV into a file and also streamed. Prints this
//     process's CPU time (user + kernel, from the start to the stream's end) as a percentage of the
//     recorded time, and the bytes the stream delivered.
#include "bench_support.h"

#include "binding/stream_delivery.h"
#include "jvm/java_vm.h"
#include "support/trace_log.h"

#include <windows.h>
#include <mmreg.h>

#include <jni.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// What the stream delivery's trace and frame need of the library's objects.
CTraceLog s_MainLog(L"stream_bench.log");
CTraceLog s_EncoderLog(L"stream_bench_encoder.log");
Synchronization::CCriticalSection s_Lock;
JavaVM* s_JavaVM = nullptr;
void PinWhileGraphHeld() {}

namespace {

void Wake() {}

// 40 ms of 128 kbit/s MP3: 417-byte frames (26.1 ms each) with valid headers, cut into 640-byte pieces.
std::vector<BYTE> Mp3Frames(size_t bytes)
{
    std::vector<BYTE> data(bytes);
    for (size_t at = 0; at < bytes; at += 417) {
        const BYTE header[4] = {0xFF, 0xFB, 0x90, 0x64};
        for (size_t i = 0; i < 4 && at + i < bytes; ++i)
            data[at + i] = header[i];
    }
    return data;
}

std::vector<BYTE> FormatOf(WORD tag, WORD channels, DWORD bytesPerSecond, WORD blockAlign)
{
    WAVEFORMATEX format = {};
    format.wFormatTag = tag;
    format.nChannels = channels;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = bytesPerSecond;
    format.nBlockAlign = blockAlign;
    format.wBitsPerSample = tag == WAVE_FORMAT_PCM ? 16 : 0;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&format);
    return std::vector<BYTE>(bytes, bytes + 16);
}

void Handover(const char* name, const std::vector<BYTE>& format, ULONG perBuffer, size_t buffers, bool reading)
{
    JNI::CStreamDelivery delivery(&Wake);
    JNI::SListener listener;
    delivery.Open();
    delivery.Format(format.data(), static_cast<ULONG>(format.size()));
    std::vector<BYTE> stream = format[0] == 0x55 ? Mp3Frames(perBuffer * 1000) : std::vector<BYTE>(perBuffer * 1000);
    std::atomic<bool> done(false);
    struct Reader {
        JNI::CStreamDelivery* delivery;
        JNI::SListener* listener;
        std::atomic<bool>* done;
        static DWORD WINAPI Run(void* p)
        {
            Reader* r = static_cast<Reader*>(p);
            while (!r->done->load())
                if (!r->delivery->DeliverNext(*r->listener))
                    ::Sleep(1);
            return 0;
        }
    } reader{&delivery, &listener, &done};
    HANDLE thread = reading ? ::CreateThread(nullptr, 0, &Reader::Run, &reader, 0, nullptr) : nullptr;
    std::vector<double> times(buffers);
    for (size_t i = 0; i < buffers; ++i) {
        const BYTE* data = stream.data() + (i % 1000) * perBuffer;
        const double start = Bench::Now();
        delivery.Write(data, perBuffer);
        times[i] = Bench::Now() - start;
    }
    done = true;
    if (thread != nullptr) {
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
    }
    const JNI::CStreamDelivery::SLoss loss = delivery.Loss();
    delivery.End();
    double sum = 0.0;
    for (double t : times)
        sum += t;
    std::sort(times.begin(), times.end());
    std::printf("%-22s %-9s mean %6.2f us  p99 %6.2f us  max %8.1f us  (%zu buffers, %.0f chunks dropped)\n", name,
                reading ? "reading" : "stopped", 1e6 * sum / buffers, 1e6 * times[buffers * 99 / 100], 1e6 * times.back(),
                buffers, loss.chunks);
}

// --- cpu -----------------------------------------------------------------------------------------------

using InitFunction = jint(JNICALL*)(JNIEnv*, jobject);
using FreeFunction = void(JNICALL*)(JNIEnv*, jobject);
using RecordFunction = jint(JNICALL*)(JNIEnv*, jobject, jbyteArray, jbyteArray, jintArray);
using StopFunction = jint(JNICALL*)(JNIEnv*, jobject);
using OnLoadFunction = jint(JNICALL*)(JavaVM*, void*);

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 1e7;
}

int Cpu(double seconds)
{
    const HMODULE module = ::LoadLibraryW(L"Tessaro.dll");
    if (module == nullptr) {
        std::printf("Tessaro.dll not found\n");
        return 1;
    }
    const auto resolve = [&](const char* name) { return reinterpret_cast<void*>(::GetProcAddress(module, name)); };
    const auto onLoad = reinterpret_cast<OnLoadFunction>(resolve("JNI_OnLoad"));
    const auto init = reinterpret_cast<InitFunction>(resolve("Java_com_tarvik_kelvane_Quillmar_initLibrary"));
    const auto freeLibrary = reinterpret_cast<FreeFunction>(resolve("Java_com_tarvik_kelvane_Quillmar_freeLibrary"));
    const auto stop = reinterpret_cast<StopFunction>(resolve("Java_com_tarvik_kelvane_Quillmar_stop"));
    const auto record =
        reinterpret_cast<RecordFunction>(resolve("Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions"));
    TestJvm::CJavaVm jvm;
    jvm.KeepRecords(false);
    std::atomic<long long> bytes(0);
    std::atomic<int> ends(0);
    jvm.OnCall([&](const TestJvm::JavaCall& call) {
        if (call.method == "StreamData") {
            bytes += static_cast<long long>(call.bytesArg.size());
            ends += call.nullArg ? 1 : 0;
        }
    });
    const jobject self = jvm.NewBinding();
    onLoad(jvm.Vm(), nullptr);
    if (init(jvm.Env(), self) != S_OK)
        return 1;
    struct Run {
        const char* name;
        const wchar_t* file;
        jint options[6];
    } runs[] = {
        {"MP3 file", L"bench-file.mp3", {85, 44100, 1, 128000, -1, 0}},
        {"MP3 file + stream", L"bench-both.mp3", {85, 44100, 1, 128000, -1, 1}},
        {"MP3 stream only", nullptr, {85, 44100, 1, 128000, -1, 1}},
        {"PCM WAV file", L"bench-file.wav", {1, 44100, 1, 0, -1, 0}},
        {"PCM WAV file + stream", L"bench-both.wav", {1, 44100, 1, 0, -1, 1}},
    };
    for (const Run& run : runs) {
        bytes = 0;
        ends = 0;
        jintArray options = jvm.NewIntArray(6);
        jint* elements = jvm.Env()->GetIntArrayElements(options, nullptr);
        std::copy(run.options, run.options + 6, elements);
        jvm.Env()->ReleaseIntArrayElements(options, elements, 0);
        jbyteArray path = nullptr;
        if (run.file != nullptr) {
            char narrow[MAX_PATH];
            ::WideCharToMultiByte(CP_UTF8, 0, run.file, -1, narrow, MAX_PATH, nullptr, nullptr);
            path = jvm.NewByteArray(std::string(narrow));
        }
        const double cpu = ProcessCpuSeconds();
        const double start = Bench::Now();
        if (record(jvm.Env(), self, nullptr, path, options) != S_OK) {
            std::printf("%s: recordWithOptions failed\n", run.name);
            continue;
        }
        ::Sleep(static_cast<DWORD>(seconds * 1000));
        stop(jvm.Env(), self);
        for (int waited = 0; run.options[5] != 0 && ends.load() == 0 && waited < 10000; waited += 10)
            ::Sleep(10);
        const double recorded = Bench::Now() - start;
        std::printf("%-22s CPU %5.1f %% of one core over %.1f s; stream %lld bytes\n", run.name,
                    100.0 * (ProcessCpuSeconds() - cpu) / recorded, recorded, bytes.load());
    }
    freeLibrary(jvm.Env(), self);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "handover";
    if (mode == "cpu")
        return Cpu(argc > 2 ? std::atof(argv[2]) : 20.0);
    const size_t buffers = argc > 2 ? static_cast<size_t>(std::atol(argv[2])) : 200000;
    for (bool reading : {true, false}) {
        Handover("MP3 128 kbit/s", FormatOf(0x55, 1, 16000, 1), 640, buffers, reading);
        Handover("PCM mono 44.1 kHz", FormatOf(WAVE_FORMAT_PCM, 1, 88200, 2), 3528, buffers, reading);
        Handover("PCM stereo 44.1 kHz", FormatOf(WAVE_FORMAT_PCM, 2, 176400, 4), 7056, buffers, reading);
    }
    return 0;
}
