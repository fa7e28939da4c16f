// Speed of the whole MP3 recording path against LAME alone.
//
// The same 600 s of 44.1 kHz mono pink noise as the encoder core's benchmark, 128 kbit/s, quality 5:
//   (a) a bare LAME loop (1152 sample frames per call, then the flush);
//   (b) a filter graph: the PCM test source, unpaced, whose bytes are replaced by the pink noise before
//       delivery -> MPEG2AudioEncoder::CFilter (stream output) -> the File Writer registered in the
//       prefix, timed from Run to the end of Stop (the file then holds everything); once in 40 ms
//       samples as the capture graph delivers them, once in 1 s samples. Every received sample costs
//       the same number of trace lines, so the two show what the per-sample work weighs;
//   (c) the same source writing its PCM straight into the File Writer (40 ms samples): what the
//       source and the writer cost without any encoding;
//   (d) (b) again with a user-space memory allocator registered for the process: every pin that asks
//       for the platform's allocator gets one whose waits never leave the process. Under Wine each
//       buffer from the platform allocator costs two wineserver calls (its semaphore), which (b)
//       counts twice per sample (source -> encoder, encoder -> writer); (d) shows the path without them.
// The variants run in interleaved rounds (one by default); the best time of each counts. Prints the
// times, the real-time factors, the bytes and the ratios to (a).
//
//   filter_bench.exe [out.mp3 [rounds]]
#include "filters/mpeg2_audio_encoder/filter.h"
#include "platform/pcm_source/pcm_source.h"
#include "stdax/com/ptr.h"

#include "bench_graph.h"
#include "bench_support.h"
#include "user_space_allocator.h"

#include <lame/lame.h>

#include <windows.h>
#include <dshow.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int SampleRate = 44100;
constexpr int Seconds = 600;

using Bench::PinkNoise;

using Bench::Now;

// (a) LAME alone, configured as the encoder configures it for this input.
const auto BareLame = &Bench::BareLameLoop;

using Bench::FirstPin;

#define CHECK(call)                                                                                  \
    do {                                                                                             \
        const HRESULT checked = (call);                                                              \
        if (FAILED(checked)) {                                                                       \
            std::fprintf(stderr, "%s failed: 0x%08lX\n", #call, static_cast<unsigned long>(checked)); \
            return -1;                                                                               \
        }                                                                                            \
    } while (0)

// Wall time from Run to the end of Stop; cpu receives the process's CPU time over the same span.
double ThroughGraph(const std::vector<short>& pcm, DWORD bufferMilliseconds, bool encode, const wchar_t* path,
                    size_t& bytesOut, double& cpu)
{
    PcmSource::Settings settings;
    settings.streamOutput = !encode;
    settings.bufferMilliseconds = bufferMilliseconds;
    settings.waveform = PcmSource::Waveform::Silence;   // the cheapest fill; replaced below
    settings.length = static_cast<REFERENCE_TIME>(Seconds) * 10000000;
    const ULONG frames = PcmSource::FramesPerBuffer(settings);
    settings.beforeDelivery = [&pcm, frames](ULONG index, IMediaSample* sample) {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const size_t first = static_cast<size_t>(index) * frames;
        const size_t bytes = static_cast<size_t>(sample->GetActualDataLength());
        if (first < pcm.size())
            std::memcpy(data, &pcm[first], bytes);
        return S_OK;
    };

    COM::TPtr<IFilterGraph> graph;
    CHECK(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                             reinterpret_cast<void**>(&graph)));
    COM::TPtr<IMediaControl> control;
    COM::TPtr<IMediaEvent> events;
    CHECK(graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
    CHECK(graph.QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));

    COM::TPtr<IBaseFilter> source;
    CHECK(PcmSource::CreateFilter(settings, &source));
    COM::TPtr<IBaseFilter> encoder;
    CHECK(MPEG2AudioEncoder::CFilter::CreateFilter(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&encoder)));
    COM::TPtr<IBaseFilter> writer;
    CHECK(::CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&writer)));
    COM::TPtr<IFileSinkFilter2> sink;
    CHECK(writer.QueryInterface(IID_IFileSinkFilter2, reinterpret_cast<void**>(&sink)));
    CHECK(sink->SetFileName(path, nullptr));
    CHECK(sink->SetMode(AM_FILE_OVERWRITE));
    CHECK(graph->AddFilter(source, L"Source"));
    CHECK(graph->AddFilter(encoder, L"MPEG2AudioEncoder"));
    CHECK(graph->AddFilter(writer, L"FileWriter"));

    auto* const filter = static_cast<MPEG2AudioEncoder::CFilter*>(encoder.p);
    COM::TPtr<IPin> sourceOut(FirstPin(source));
    sourceOut->Release();
    COM::TPtr<IPin> writerIn(FirstPin(writer));
    writerIn->Release();
    if (encode) {
        CHECK(graph->ConnectDirect(sourceOut, filter->InputPin()->PinInterface(), nullptr));
        CHECK(graph->ConnectDirect(filter->OutputPin()->PinInterface(), writerIn, nullptr));
        MPEG2AudioEncoder::EncoderSettings encoding{};
        CHECK(filter->SettingsInterface()->GetEncoderSettings(&encoding));
        encoding.dwBitrateKbps = 128;
        encoding.dwQualityLevel = 5;
        CHECK(filter->SettingsInterface()->SetEncoderSettings(&encoding));
    } else {
        CHECK(graph->ConnectDirect(sourceOut, writerIn, nullptr));
    }

    const double cpuStart = Bench::ProcessCpuSeconds();
    const double start = Now();
    CHECK(control->Run());
    for (;;) {
        long code = 0;
        LONG_PTR first = 0, second = 0;
        if (events->GetEvent(&code, &first, &second, 1000) != S_OK)
            continue;
        events->FreeEventParams(code, first, second);
        if (code == EC_COMPLETE)
            break;
        if (code == EC_ERRORABORT || code == EC_USERABORT) {
            std::fprintf(stderr, "the graph ended with event %ld\n", code);
            return -1;
        }
    }
    CHECK(control->Stop());
    const double elapsed = Now() - start;
    cpu = Bench::ProcessCpuSeconds() - cpuStart;

    COM::TPtr<IStream> stored;
    CHECK(writerIn.QueryInterface(IID_IStream, reinterpret_cast<void**>(&stored)));
    STATSTG stat = {};
    CHECK(stored->Stat(&stat, STATFLAG_NONAME));
    bytesOut = static_cast<size_t>(stat.cbSize.QuadPart);
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    wchar_t path[MAX_PATH] = L"filter_bench.mp3";
    if (argc > 1)
        ::MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH);
    const int runs = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 1;
    int status = 0;
    {
        const std::vector<short> pcm = PinkNoise(static_cast<size_t>(SampleRate) * Seconds);
        size_t bareBytes = 0;
        double bare = -1;
        constexpr int Variants = 5;
        const DWORD pieces[Variants] = {40, 1000, 40, 40, 1000};
        const bool encodes[Variants] = {true, true, false, true, true};
        const bool userSpaceAllocator[Variants] = {false, false, false, true, true};
        const char* const names[Variants] = {"(b) source -> encoder -> File Writer, 40 ms",
                                             "(b) source -> encoder -> File Writer, 1 s",
                                             "(c) source -> File Writer (PCM), 40 ms",
                                             "(d) as (b), user-space allocator, 40 ms",
                                             "(d) as (b), user-space allocator, 1 s"};
        double whole[Variants] = {-1, -1, -1, -1, -1};
        double cpuBare = -1;
        double cpuWhole[Variants] = {-1, -1, -1, -1, -1};
        size_t graphBytes[Variants] = {};
        // Interleaved rounds; the best time of each variant counts.
        for (int run = 0; run < runs && status == 0; ++run) {
            double cpuStart = Bench::ProcessCpuSeconds();
            const double lame = BareLame(pcm, bareBytes);
            double cpu = Bench::ProcessCpuSeconds() - cpuStart;
            status = lame < 0 ? 1 : 0;
            bare = bare < 0 || lame < bare ? lame : bare;
            cpuBare = cpuBare < 0 || cpu < cpuBare ? cpu : cpuBare;
            for (int i = 0; i < Variants && status == 0; ++i) {
                std::unique_ptr<Bench::CUserSpaceAllocatorRegistration> registration;
                if (userSpaceAllocator[i]) {
                    registration = std::make_unique<Bench::CUserSpaceAllocatorRegistration>();
                    if (FAILED(registration->Result()))
                        std::fprintf(stderr, "the user-space allocator could not be registered: 0x%08lX\n",
                                     static_cast<unsigned long>(registration->Result()));
                }
                const double time = ThroughGraph(pcm, pieces[i], encodes[i], encodes[i] ? path : L"filter_bench.pcm",
                                                 graphBytes[i], cpu);
                registration.reset();
                status = time < 0 ? 1 : 0;
                whole[i] = whole[i] < 0 || time < whole[i] ? time : whole[i];
                cpuWhole[i] = cpuWhole[i] < 0 || cpu < cpuWhole[i] ? cpu : cpuWhole[i];
            }
        }
        if (status != 0) {
            std::fprintf(stderr, "encoding failed\n");
            status = 1;
        } else {
            std::printf("%d s of 44.1 kHz mono pink noise, 128 kbit/s, quality 5, best of %d (wall time; CPU time of "
                        "the process)\n",
                        Seconds, runs);
            std::printf("%-46s %8.3f s  %7.1f x real time  %9zu bytes                   cpu %7.3f s\n",
                        "(a) bare LAME loop", bare, Seconds / bare, bareBytes, cpuBare);
            for (int i = 0; i < Variants; ++i)
                std::printf("%-46s %8.3f s  %7.1f x real time  %9zu bytes  ratio to (a) %.3f   cpu %7.3f s  ratio %.3f\n",
                            names[i], whole[i], Seconds / whole[i], graphBytes[i], whole[i] / bare, cpuWhole[i],
                            cpuWhole[i] / cpuBare);
        }
    }
    ::CoUninitialize();
    return status;
}
