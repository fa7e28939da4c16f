// Throughput of the WAV writer on 40 ms buffers of 16-bit stereo 44100 Hz audio, inside a paused
// platform graph, against plain WriteFile of the same buffers in the same run, and the cost of keeping
// the header's sizes up to date while recording (the writer with and without it). Prints the figures.
#include "filters/wave_writer/wave_writer.h"
#include "push_source.h"
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"

#include <control.h>
#include <uuids.h>

#include <cstdio>
#include <vector>

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Seconds for the writer to take rounds buffers and stop, in a fresh paused graph; refresh: whether
// the header's sizes are brought up to date with each write of gathered bytes (as in a recording).
double TimeWriter(const WCHAR* path, LONG bytes, int rounds, bool refresh, HRESULT* hr)
{
    COM::TPtr<IFilterGraph> graph;
    COM::TPtr<IMediaControl> control;
    COM::TPtr<IBaseFilter> writer;
    COM::TPtr<IFileSinkFilter> sink;
    COM::TPtr<IPin> input;
    COM::TPtr<IMemInputPin> transport;
    COM::TPtr<IMemAllocator> allocator;
    ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                       reinterpret_cast<void**>(&graph));
    graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    WaveWriter::CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&writer));
    graph->AddFilter(writer, L"WaveWriter");
    writer.QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink));
    sink->SetFileName(path, nullptr);
    writer->FindPin(L"Input", &input);
    AM_MEDIA_TYPE type;
    PushSource::MakePcmType(&type, 2, 44100, 16);
    PushSource::CFilter* const source = PushSource::CFilter::Create(type, bytes);
    stdax::FreeMediaTypeContents(&type);
    graph->AddFilter(source->Interface(), L"Source");
    if (FAILED(graph->ConnectDirect(source->OutputPin(), input, nullptr)) || FAILED(control->Pause())) {
        std::printf("graph set-up failed\n");
        *hr = E_FAIL;
        return 0;
    }
    static_cast<WaveWriter::CFilter*>(writer.p)->File().SetSizeRefresh(refresh);
    input.QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&transport));
    transport->GetAllocator(&allocator);
    IMediaSample* sample = nullptr;
    allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    for (LONG i = 0; i < bytes; ++i)
        data[i] = static_cast<BYTE>(i * 31);
    sample->SetActualDataLength(bytes);

    LARGE_INTEGER t0, t1;
    ::QueryPerformanceCounter(&t0);
    for (int i = 0; i < rounds && *hr == S_OK; ++i)
        *hr = transport->Receive(sample);
    sample->Release();
    // The close writes what is gathered and fixes the header: part of the writer's cost.
    if (SUCCEEDED(*hr))
        *hr = writer->Stop();
    ::QueryPerformanceCounter(&t1);
    control->Stop();
    source->Interface()->Release();
    return Seconds(t0, t1);
}

} // namespace

int main()
{
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const LONG bytes = 44100 / 25 * 4; // 40 ms
    const int rounds = 20000;          // 800 s, about 141 MB
    const int passes = 3;
    WCHAR writerPath[MAX_PATH], plainPath[MAX_PATH];
    ::GetFullPathNameW(L"bench_writer.wav", MAX_PATH, writerPath, nullptr);
    ::GetFullPathNameW(L"bench_plain.raw", MAX_PATH, plainPath, nullptr);
    double bestWriter = 1e9, bestUnrefreshed = 1e9, bestPlain = 1e9;
    HRESULT hr = S_OK;
    std::vector<BYTE> data(bytes);
    for (LONG i = 0; i < bytes; ++i)
        data[i] = static_cast<BYTE>(i * 31);
    for (int pass = 0; pass < passes && hr == S_OK; ++pass) {
        const double writerSeconds = TimeWriter(writerPath, bytes, rounds, true, &hr);
        const double unrefreshedSeconds = TimeWriter(writerPath, bytes, rounds, false, &hr);

        LARGE_INTEGER t2, t3;
        ::QueryPerformanceCounter(&t2);
        HANDLE file = ::CreateFileW(plainPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        for (int i = 0; i < rounds; ++i) {
            DWORD done = 0;
            ::WriteFile(file, data.data(), bytes, &done, nullptr);
        }
        ::CloseHandle(file);
        ::QueryPerformanceCounter(&t3);

        const double plainSeconds = Seconds(t2, t3);
        bestWriter = writerSeconds < bestWriter ? writerSeconds : bestWriter;
        bestUnrefreshed = unrefreshedSeconds < bestUnrefreshed ? unrefreshedSeconds : bestUnrefreshed;
        bestPlain = plainSeconds < bestPlain ? plainSeconds : bestPlain;
    }
    ::DeleteFileW(writerPath);
    ::DeleteFileW(plainPath);
    const double total = static_cast<double>(bytes) * rounds / 1e6;
    // Gathered bytes go to the file every 64 KiB here (0.37 s of this format; a second at most).
    const double refreshes = static_cast<double>(bytes) * rounds / CWaveFile::BufferSize;
    std::printf("WAV writer: %d buffers of %ld bytes (40 ms, 16-bit stereo 44100 Hz), %.1f MB, best of %d, result 0x%08lX\n",
                rounds, bytes, total, passes, hr);
    std::printf("  writer (Receive .. Stop):             %7.3f s  %8.1f MB/s\n", bestWriter, total / bestWriter);
    std::printf("  writer without header refresh:        %7.3f s  %8.1f MB/s\n", bestUnrefreshed,
                total / bestUnrefreshed);
    std::printf("  WriteFile per buffer:                 %7.3f s  %8.1f MB/s\n", bestPlain, total / bestPlain);
    std::printf("  writer / WriteFile throughput: %.3f\n", bestPlain / bestWriter);
    std::printf("  header refresh: %.1f us per refresh (%.0f refreshes), %.2f us per 40 ms buffer\n",
                (bestWriter - bestUnrefreshed) * 1e6 / refreshes, refreshes,
                (bestWriter - bestUnrefreshed) * 1e6 / rounds);
    ::CoUninitialize();
    return 0;
}
