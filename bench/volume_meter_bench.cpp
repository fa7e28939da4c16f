// Throughput of the volume meter on 40 ms buffers of 16-bit mono 44100 Hz noise, inside a paused
// platform graph, against memcpy of the same bytes in the same run; and the cost of the meter's check
// for gaps in the captured audio on its own, per buffer. Prints the figures.
#include "filters/volume_meter/gap_counter.h"
#include "filters/volume_meter/volume_meter.h"
#include "push_source.h"
#include "stdax/com/ptr.h"
#include "stdax/media_type_operations.h"

#include <control.h>
#include <uuids.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

HRESULT Ignore(double)
{
    return S_OK;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

int main()
{
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const LONG bytes = 44100 / 25 * 2; // 40 ms
    const int rounds = 100000;
    {
        COM::TPtr<IFilterGraph> graph;
        COM::TPtr<IMediaControl> control;
        COM::TPtr<IBaseFilter> meter;
        COM::TPtr<IPin> input;
        COM::TPtr<IMemInputPin> transport;
        COM::TPtr<IMemAllocator> allocator;
        COM::TPtr<VolumeMeter::IFilterProperties> properties;
        ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                           reinterpret_cast<void**>(&graph));
        graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        VolumeMeter::CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&meter));
        graph->AddFilter(meter, L"VolumeMeter");
        meter.QueryInterface(VolumeMeter::IID_IFilterProperties, reinterpret_cast<void**>(&properties));
        properties->SetCallback(&Ignore);
        meter->FindPin(L"Input", &input);
        AM_MEDIA_TYPE type;
        PushSource::MakePcmType(&type, 1, 44100, 16);
        PushSource::CFilter* const source = PushSource::CFilter::Create(type, bytes);
        stdax::FreeMediaTypeContents(&type);
        graph->AddFilter(source->Interface(), L"Source");
        if (FAILED(graph->ConnectDirect(source->OutputPin(), input, nullptr)) || FAILED(control->Pause())) {
            std::printf("graph set-up failed\n");
            return 1;
        }
        input.QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&transport));
        transport->GetAllocator(&allocator);
        IMediaSample* sample = nullptr;
        allocator->GetBuffer(&sample, nullptr, nullptr, 0);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        UINT32 noise = 1;
        for (LONG i = 0; i < bytes; ++i) {
            noise = noise * 1664525u + 1013904223u;
            data[i] = static_cast<BYTE>(noise >> 24);
        }
        sample->SetActualDataLength(bytes);

        std::vector<BYTE> target(bytes);
        LARGE_INTEGER t0, t1, t2;
        ::QueryPerformanceCounter(&t0);
        HRESULT hr = S_OK;
        // Stamped as a capture device stamps them: contiguous 40 ms.
        for (int i = 0; i < rounds && hr == S_OK; ++i) {
            REFERENCE_TIME start = static_cast<REFERENCE_TIME>(i) * 400000, stop = start + 400000;
            sample->SetTime(&start, &stop);
            hr = transport->Receive(sample);
        }
        ::QueryPerformanceCounter(&t1);
        for (int i = 0; i < rounds; ++i) {
            std::memcpy(target.data(), data, bytes);
            // Keep the copy from being optimised away.
            data[i % bytes] ^= target[(i * 7) % bytes] & 1;
        }
        ::QueryPerformanceCounter(&t2);
        double level = 0;
        properties->GetLevel(&level);
        const double total = static_cast<double>(bytes) * rounds / 1e6;
        const double meterSeconds = Seconds(t0, t1), copySeconds = Seconds(t1, t2);
        std::printf("volume meter: %d buffers of %ld bytes (40 ms, 16-bit mono 44100 Hz), result 0x%08lX, level %.4f\n",
                    rounds, bytes, hr, level);
        std::printf("  Receive + measure: %8.3f s  %9.1f MB/s  %7.2f us/buffer (%.0fx real time)\n", meterSeconds,
                    total / meterSeconds, meterSeconds * 1e6 / rounds, rounds * 0.04 / meterSeconds);
        std::printf("  memcpy:            %8.3f s  %9.1f MB/s  %7.2f us/buffer\n", copySeconds, total / copySeconds,
                    copySeconds * 1e6 / rounds);
        std::printf("  meter / memcpy throughput: %.3f\n", copySeconds / meterSeconds);

        // The gap check alone, on the properties of contiguous buffers with a gap in every thousandth.
        const int checks = 20000000;
        VolumeMeter::CGapCounter counter;
        counter.Restart(44100, 88200);
        AM_SAMPLE2_PROPERTIES props = {};
        props.dwSampleFlags = AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
        props.lActual = bytes;
        LARGE_INTEGER t3, t4;
        REFERENCE_TIME start = 0;
        ::QueryPerformanceCounter(&t3);
        for (int i = 0; i < checks; ++i) {
            start += i % 1000 == 999 ? 800000 : 400000;
            props.tStart = start;
            props.tStop = start + 400000;
            counter.Observe(props);
        }
        ::QueryPerformanceCounter(&t4);
        const double checkSeconds = Seconds(t3, t4);
        std::printf("  gap check alone:   %7.2f ns/buffer (%.4f%% of Receive + measure), %lu gaps of %d made\n",
                    checkSeconds * 1e9 / checks, 100.0 * (checkSeconds / checks) / (meterSeconds / rounds),
                    counter.Gaps(), checks / 1000);
        sample->Release();
        control->Stop();
        source->Interface()->Release();
    }
    ::CoUninitialize();
    return 0;
}
