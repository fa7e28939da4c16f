// What each piece of per-sample work costs on its own, to tell where the time of the whole MP3 path
// (bench/filter_bench) goes for every 40 ms sample:
//   - a trace line (CTraceLog::Print to a file), and its parts: formatting, the clock, one WriteFile;
//   - a traced scope (begin and done line, with the name conversion and header formatting);
//   - pointer probes (IsBadReadPtr / IsBadWritePtr) over 4 bytes and over one 40 ms sample;
//   - a fault guard round an empty call;
//   - a buffer taken from and given back to the platform's memory allocator;
//   - a positioned WriteFile of one encoded 40 ms piece and of one PCM sample;
//   - the PCM test source's noise for one 40 ms sample, and a copy of one sample.
// Each item runs many times, best of several rounds; prints microseconds per call.
//
//   sample_costs_bench.exe
// dshow.h brings strsafe.h, which would otherwise hide _vsnwprintf.
#define STRSAFE_NO_DEPRECATE
#include "platform/pcm_source/pcm_signal.h"
#include "stdax/com/ptr.h"
#include "support/structured_exception_guard.h"
#include "support/trace_log.h"

#include <windows.h>
#include <dshow.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr ULONG SampleBytes = 44100 / 25 * 2;   // 40 ms of 16-bit mono
constexpr ULONG EncodedBytes = 640;             // 40 ms at 128 kbit/s
constexpr int Rounds = 5;

double Now()
{
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Best of Rounds rounds of count calls; microseconds per call.
double Measure(int count, const std::function<void()>& call)
{
    double best = 1e30;
    for (int round = 0; round < Rounds; ++round) {
        const double start = Now();
        for (int i = 0; i < count; ++i)
            call();
        const double elapsed = Now() - start;
        best = elapsed < best ? elapsed : best;
    }
    return best * 1e6 / count;
}

void Report(const char* what, double microseconds)
{
    std::printf("%-58s %9.3f us\n", what, microseconds);
}

int FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = _vsnwprintf(buffer, capacity - 1, format, args);
    va_end(args);
    return length;
}

} // namespace

int main()
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    {
        CTraceLog log(L"sample_costs_bench.log");
        volatile HRESULT result = S_OK;
        Report("trace line, CTraceLog::Print with one %08X", Measure(20000, [&] {
                   log.Print(L"CEncoder::Encode() done, return 0x%08X.", static_cast<unsigned>(result));
               }));
        Report("traced scope, begin and done lines", Measure(10000, [&] {
                   CTraceScope scope(log, "MPEG2AudioEncoder::CEncoder::GetBlockAligned");
                   HRESULT hr = S_OK;
                   scope.Begin(&hr);
               }));
        Report("traced scope with an argument", Measure(10000, [&] {
                   CTraceScope scope(log, "MPEG2AudioEncoder::CFilter::Receive");
                   HRESULT hr = S_OK;
                   scope.Begin(&hr, L"0x%08X", 0x12345678u);
               }));

        wchar_t line[CTraceLog::LineCapacity];
        Report("  _vsnwprintf of a message", Measure(20000, [&] {
                   FormatInto(line, CTraceLog::LineCapacity, L"CEncoder::Encode() done, return 0x%08X.",
                              static_cast<unsigned>(result));
               }));
        Report("  time column", Measure(20000, [&] {
                   CTraceLog::FormatTimeColumn(line, CTraceLog::LineCapacity, 123456789012LL);
               }));
        Report("  whole line assembly", Measure(20000, [&] {
                   CTraceLog::AssembleLine(line, CTraceLog::LineCapacity, 0x20, 123456789012LL, 2,
                                           L"CEncoder::Encode() done, return 0x00000000.", true);
               }));
        Report("  QueryPerformanceCounter", Measure(20000, [] {
                   LARGE_INTEGER counter;
                   ::QueryPerformanceCounter(&counter);
               }));
        Report("  MultiByteToWideChar of a scope name", Measure(20000, [&] {
                   ::MultiByteToWideChar(CP_ACP, 0, "MPEG2AudioEncoder::CEncoder::GetBlockAligned", -1, line,
                                         static_cast<int>(CTraceLog::LineCapacity));
               }));
        const HANDLE lines = ::CreateFileW(L"sample_costs_lines.bin", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        Report("  WriteFile of 180 bytes, appending", Measure(20000, [&] {
                   DWORD written = 0;
                   ::WriteFile(lines, line, 180, &written, nullptr);
               }));
        ::CloseHandle(lines);

        std::vector<BYTE> block(SampleBytes + 4096);
        Report("IsBadReadPtr, 4 bytes", Measure(20000, [&] { ::IsBadReadPtr(block.data(), 4); }));
        Report("IsBadWritePtr, 4 bytes", Measure(20000, [&] { ::IsBadWritePtr(block.data(), 4); }));
        Report("IsBadReadPtr, one 40 ms sample", Measure(20000, [&] { ::IsBadReadPtr(block.data(), SampleBytes); }));
        Report("RunGuarded, empty call", Measure(20000, [] { Win32::RunGuarded([] {}); }));
        const HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        Report("SetEvent", Measure(20000, [&] { ::SetEvent(event); }));
        Report("WaitForSingleObject on a signalled event", Measure(20000, [&] {
                   ::SetEvent(event);
                   ::WaitForSingleObject(event, 0);
               }));
        ::CloseHandle(event);
        CRITICAL_SECTION section;
        ::InitializeCriticalSection(&section);
        Report("critical section enter and leave", Measure(20000, [&] {
                   ::EnterCriticalSection(&section);
                   ::LeaveCriticalSection(&section);
               }));
        ::DeleteCriticalSection(&section);

        COM::TPtr<IMemAllocator> allocator;
        if (SUCCEEDED(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                         reinterpret_cast<void**>(&allocator)))) {
            ALLOCATOR_PROPERTIES request = {4, 16384, 1, 0};
            ALLOCATOR_PROPERTIES actual = {};
            if (SUCCEEDED(allocator->SetProperties(&request, &actual)) && SUCCEEDED(allocator->Commit())) {
                Report("memory allocator GetBuffer and Release", Measure(20000, [&] {
                           IMediaSample* sample = nullptr;
                           if (SUCCEEDED(allocator->GetBuffer(&sample, nullptr, nullptr, 0)))
                               sample->Release();
                       }));
                IMediaSample* sample = nullptr;
                if (SUCCEEDED(allocator->GetBuffer(&sample, nullptr, nullptr, 0))) {
                    Report("media sample SetTime, SetActualDataLength, GetPointer", Measure(20000, [&] {
                               REFERENCE_TIME start = 0, stop = 1;
                               BYTE* data = nullptr;
                               sample->SetTime(&start, &stop);
                               sample->SetActualDataLength(100);
                               sample->GetPointer(&data);
                           }));
                    sample->Release();
                }
                allocator->Decommit();
            }
        }

        const HANDLE file = ::CreateFileW(L"sample_costs_data.bin", GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        ULONGLONG offset = 0;
        auto writeAt = [&](ULONG size) {
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD done = 0;
            ::WriteFile(file, block.data(), size, &done, &at);
            offset += done;
        };
        Report("positioned WriteFile, one encoded 40 ms piece", Measure(5000, [&] { writeAt(EncodedBytes); }));
        Report("positioned WriteFile, one 40 ms PCM sample", Measure(5000, [&] { writeAt(SampleBytes); }));
        Report("SetFilePointerEx and WriteFile, one encoded 40 ms piece", Measure(5000, [&] {
                   LARGE_INTEGER to;
                   to.QuadPart = static_cast<LONGLONG>(offset);
                   DWORD done = 0;
                   ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
                   ::WriteFile(file, block.data(), EncodedBytes, &done, nullptr);
                   offset += done;
               }));
        Report("WriteFile at the file pointer, one encoded 40 ms piece", Measure(5000, [&] {
                   DWORD done = 0;
                   ::WriteFile(file, block.data(), EncodedBytes, &done, nullptr);
                   offset += done;
               }));
        ::CloseHandle(file);

        PcmSource::Settings settings;
        settings.waveform = PcmSource::Waveform::Noise;
        PcmSource::CSignal signal(settings);
        Report("PCM source noise for one 40 ms sample",
               Measure(2000, [&] { signal.Fill(block.data(), SampleBytes / 2); }));
        std::vector<BYTE> copy(SampleBytes);
        Report("memcpy of one 40 ms sample",
               Measure(20000, [&] { std::memcpy(copy.data(), block.data(), SampleBytes); }));
    }
    ::CoUninitialize();
    return 0;
}
