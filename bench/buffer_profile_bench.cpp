// Where the time of one 40 ms capture buffer goes on the MP3 path, step by step.
//
// A paused graph: the PCM test source (live, so it delivers nothing while paused) -> the MP3 encoder
// filter (stream output) -> the File Writer registered in the prefix. The benchmark itself then hands
// 40 ms samples of pink noise (44.1 kHz mono) to the encoder's input pin, as the capture device's
// streaming thread would, and times with the performance counter, per buffer:
//   - the whole Receive at the encoder's input pin (everything below, the File Writer included);
//   - each of its steps on the same objects: the trace lines (formatting alone, into a log without a
//     file, and formatting with the write), the receive checks, the encoder core (Encode and
//     GetBlockAligned on an encoder of its own), LAME alone on the same buffers, a round trip through
//     the output pin's allocator, one delivery of 640 encoded bytes, and the File Writer's Receive.
// Each step runs over the same run of buffers in interleaved rounds; every call is timed, and the mean
// of the calls that kept their core counts. The lines the encoder log gains per buffer are counted from the file.
//
//   buffer_profile_bench.exe [seconds [rounds [user-space-allocator]]]
//                                     defaults: 20 s of audio per round, 5 rounds, the platform allocator
// With user-space-allocator every allocator of the process is the benchmarks' own, whose waits stay in
// the process (user_space_allocator.h): the profile then shows the path apart from the platform
// allocator's wineserver calls.
//
// The File Writer's file (buffer_profile_bench.mp3) is written over by the delivery steps: its content
// means nothing.
#include "bench_graph.h"
#include "bench_support.h"
#include "user_space_allocator.h"

#include "filters/mpeg2_audio_encoder/filter.h"
#include "filters/mpeg2_audio_encoder/input_pin.h"
#include "filters/mpeg2_audio_encoder/output_pin.h"
#include "platform/pcm_source/pcm_source.h"
#include "stdax/com/ptr.h"
#include "support/library_logs.h"
#include "support/trace_log.h"

#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {
// Every allocator of the process is the benchmarks' own (see main).
bool g_userSpaceAllocator = false;
} // namespace

namespace MPEG2AudioEncoder {
// The encoder's LAME context, for timing LAME alone on the very context the encoder uses (the same heap
// layout and state), so that what lies beyond LAME is a difference of two calls on equal terms.
struct CEncoderTestSeam {
    static lame_global_flags* Lame(CEncoder& encoder) { return encoder.m_pLame; }
};
} // namespace MPEG2AudioEncoder

namespace {

using Bench::CaptureBufferBytes;
using Bench::Now;

constexpr ULONG EncodedBytes = 640;   // 40 ms at 128 kbit/s

#define CHECK(call)                                                                                  \
    do {                                                                                             \
        const HRESULT checked = (call);                                                              \
        if (FAILED(checked)) {                                                                       \
            std::fprintf(stderr, "%s failed: 0x%08lX\n", #call, static_cast<unsigned long>(checked)); \
            return false;                                                                            \
        }                                                                                            \
    } while (0)

using Bench::FirstPin;

// One step of the profile: run(i) for every buffer i of a round; the best round's time per call.
struct Step {
    const char* name;
    std::function<bool(size_t)> run;
    std::vector<LONGLONG> ticks;   // every call's duration
    double best = 0;               // the mean call, in seconds
    // Paired steps: after each call, LAME alone encodes the same buffer again on the same LAME context;
    // the call's time and LAME's, per buffer.
    std::vector<LONGLONG> callTicks;
    std::vector<LONGLONG> lameTicks;
};

// The mean of the values not above three times their median.
double RobustMean(std::vector<LONGLONG> values)
{
    if (values.empty())
        return 0;
    std::vector<LONGLONG> sorted(values);
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const LONGLONG limit = 3 * sorted[sorted.size() / 2];
    double sum = 0;
    size_t count = 0;
    for (const LONGLONG value : values) {
        if (value <= limit) {
            sum += static_cast<double>(value);
            ++count;
        }
    }
    return count > 0 ? sum / static_cast<double>(count) : 0;
}

LONGLONG Ticks()
{
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// One 40 ms buffer through LAME alone, in calls of at most 1152 sample frames as the encoder makes them.
bool LameOnly(lame_global_flags* lame, const short* source, int frames)
{
    static unsigned char out[MPEG2AudioEncoder::CEncoder::OutputBufferSize];
    while (frames > 0) {
        const int count = frames < MPEG2AudioEncoder::CEncoder::MaxSampleFramesPerCall
                              ? frames
                              : MPEG2AudioEncoder::CEncoder::MaxSampleFramesPerCall;
        if (lame_encode_buffer(lame, source, source, count, out, sizeof(out)) < 0)
            return false;
        source += count;
        frames -= count;
    }
    return true;
}

// The bytes a file has gained since size were last taken, and the lines among them.
class CLogCounter {
public:
    explicit CLogCounter(const wchar_t* path)
        : m_file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr))
    {
    }
    ~CLogCounter()
    {
        if (m_file != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_file);
    }
    LONGLONG Size() const
    {
        LARGE_INTEGER size = {};
        if (m_file == INVALID_HANDLE_VALUE || !::GetFileSizeEx(m_file, &size))
            return -1;
        return size.QuadPart;
    }
    // Lines between two sizes.
    long LinesBetween(LONGLONG from, LONGLONG to) const
    {
        if (from < 0 || to <= from)
            return 0;
        std::vector<wchar_t> text(static_cast<size_t>((to - from) / sizeof(wchar_t)));
        LARGE_INTEGER at;
        at.QuadPart = from;
        DWORD read = 0;
        if (!::SetFilePointerEx(m_file, at, nullptr, FILE_BEGIN) ||
            !::ReadFile(m_file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr))
            return 0;
        long lines = 0;
        for (size_t i = 0; i < read / sizeof(wchar_t); ++i)
            lines += text[i] == L'\n' ? 1 : 0;
        return lines;
    }

private:
    HANDLE m_file;
};

class CProfile {
public:
    bool Run(int seconds, int rounds);

private:
    bool BuildGraph();
    bool OpenOwnEncoder();
    void Report(int rounds);

    std::vector<short> m_pcm;
    size_t m_buffers = 0;
    COM::TPtr<IFilterGraph> m_graph;
    COM::TPtr<IMediaControl> m_control;
    COM::TPtr<IBaseFilter> m_source;
    COM::TPtr<IBaseFilter> m_encoderFilter;
    COM::TPtr<IBaseFilter> m_writer;
    COM::TPtr<IMemInputPin> m_encoderInput;
    COM::TPtr<IMemInputPin> m_writerInput;
    MPEG2AudioEncoder::CFilter* m_filter = nullptr;
    COM::TPtr<IMemAllocator> m_inputAllocator;
    IMediaSample* m_inputSample = nullptr;
    COM::TPtr<MPEG2AudioEncoder::IEncoder> m_ownEncoder;
    lame_global_flags* m_lame = nullptr;
    long m_linesPerBuffer = 0;
    double m_frequency = 1;
    std::vector<Step> m_steps;
};

bool CProfile::BuildGraph()
{
    PcmSource::Settings settings;
    settings.realTime = true;            // nothing goes out while paused: the benchmark feeds the encoder
    settings.bufferMilliseconds = 40;
    settings.waveform = PcmSource::Waveform::Silence;
    settings.length = -1;
    CHECK(::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                             reinterpret_cast<void**>(&m_graph)));
    CHECK(m_graph.QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_control)));
    CHECK(PcmSource::CreateFilter(settings, &m_source));
    CHECK(MPEG2AudioEncoder::CFilter::CreateFilter(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&m_encoderFilter)));
    CHECK(::CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&m_writer)));
    COM::TPtr<IFileSinkFilter2> sink;
    CHECK(m_writer.QueryInterface(IID_IFileSinkFilter2, reinterpret_cast<void**>(&sink)));
    CHECK(sink->SetFileName(L"buffer_profile_bench.mp3", nullptr));
    CHECK(sink->SetMode(AM_FILE_OVERWRITE));
    CHECK(m_graph->AddFilter(m_source, L"Source"));
    CHECK(m_graph->AddFilter(m_encoderFilter, L"MPEG2AudioEncoder"));
    CHECK(m_graph->AddFilter(m_writer, L"FileWriter"));

    m_filter = static_cast<MPEG2AudioEncoder::CFilter*>(m_encoderFilter.p);
    COM::TPtr<IPin> sourceOut(FirstPin(m_source));
    COM::TPtr<IPin> writerIn(FirstPin(m_writer));
    if (sourceOut.IsNull() || writerIn.IsNull())
        return false;
    sourceOut->Release();   // FirstPin's reference; the holder took its own
    writerIn->Release();
    CHECK(m_graph->ConnectDirect(sourceOut, m_filter->InputPin()->PinInterface(), nullptr));
    CHECK(m_graph->ConnectDirect(m_filter->OutputPin()->PinInterface(), writerIn, nullptr));
    MPEG2AudioEncoder::EncoderSettings encoding{};
    CHECK(m_filter->SettingsInterface()->GetEncoderSettings(&encoding));
    encoding.dwBitrateKbps = 128;
    encoding.dwQualityLevel = 5;
    CHECK(m_filter->SettingsInterface()->SetEncoderSettings(&encoding));
    CHECK(m_control->Pause());

    CHECK(m_filter->InputPin()->PinInterface()->QueryInterface(IID_IMemInputPin,
                                                               reinterpret_cast<void**>(&m_encoderInput)));
    CHECK(writerIn.QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_writerInput)));

    // The capture device's sample: one buffer of 40 ms.
    CHECK(::CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                             reinterpret_cast<void**>(&m_inputAllocator)));
    ALLOCATOR_PROPERTIES request = {1, static_cast<long>(CaptureBufferBytes), 1, 0};
    ALLOCATOR_PROPERTIES actual = {};
    CHECK(m_inputAllocator->SetProperties(&request, &actual));
    CHECK(m_inputAllocator->Commit());
    CHECK(m_inputAllocator->GetBuffer(&m_inputSample, nullptr, nullptr, 0));
    CHECK(m_inputSample->SetActualDataLength(static_cast<long>(CaptureBufferBytes)));
    return true;
}

bool CProfile::OpenOwnEncoder()
{
    CHECK(COM::CreateObject(&MPEG2AudioEncoder::CEncoder::CreateInstance, nullptr, MPEG2AudioEncoder::IID_IEncoder,
                            reinterpret_cast<void**>(&m_ownEncoder)));
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = Bench::SampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = sizeof(short);
    format.nAvgBytesPerSec = Bench::SampleRate * sizeof(short);
    CHECK(m_ownEncoder->SetInputType(&format));
    CHECK(m_ownEncoder->Open());
    m_lame = Bench::OpenBareLame();
    return m_lame != nullptr;
}

bool CProfile::Run(int seconds, int rounds)
{
    m_pcm = Bench::PinkNoise(static_cast<size_t>(Bench::SampleRate) * seconds);
    m_buffers = m_pcm.size() * sizeof(short) / CaptureBufferBytes;
    if (!BuildGraph() || !OpenOwnEncoder())
        return false;

    const short* const pcm = m_pcm.data();
    const size_t frames = CaptureBufferBytes / sizeof(short);
    auto bufferAt = [pcm, frames](size_t i) { return pcm + i * frames; };
    BYTE* inputData = nullptr;
    CHECK(m_inputSample->GetPointer(&inputData));

    CTraceLog quietLog(L"");   // no file: its lines are formatted and dropped
    MPEG2AudioEncoder::COutputPin* const output = m_filter->OutputPin();
    std::vector<BYTE> encoded(EncodedBytes, 0x55);
    LONGLONG deliveryPosition = 0;
    LONGLONG writerPosition = 0;

    m_steps = {
        {"whole Receive at the encoder's input pin",
         [&](size_t i) {
             std::memcpy(inputData, bufferAt(i), CaptureBufferBytes);
             return m_encoderInput->Receive(m_inputSample) == S_OK;
         }},
        {"  the sample's fill (memcpy, not part of the path)",
         [&](size_t i) {
             std::memcpy(inputData, bufferAt(i), CaptureBufferBytes);
             return true;
         }},
        {"LAME alone, same buffers",
         [&](size_t i) { return LameOnly(m_lame, bufferAt(i), static_cast<int>(frames)); }},
        {"encoder core: Encode and GetBlockAligned",
         [&](size_t i) {
             ULONG consumed = 0;
             if (FAILED(m_ownEncoder->Encode(bufferAt(i), CaptureBufferBytes, &consumed)))
                 return false;
             BYTE* data = nullptr;
             ULONG aligned = 0, size = 0;
             return SUCCEEDED(m_ownEncoder->GetBlockAligned(1, &data, &aligned, &size));
         }},
        {"receive checks: CheckStreaming, sample type",
         [&](size_t) {
             if (::IsBadReadPtr(m_inputSample, sizeof(void*)) || m_filter->InputPin()->CheckStreaming() != S_OK)
                 return false;
             AM_MEDIA_TYPE* type = nullptr;
             return m_inputSample->GetMediaType(&type) == S_FALSE;
         }},
        {"allocator round trip (GetDeliveryBuffer, Release)",
         [&](size_t) {
             IMediaSample* sample = nullptr;
             if (FAILED(output->GetDeliveryBuffer(&sample, nullptr, nullptr, 0)))
                 return false;
             sample->Release();
             return true;
         }},
        {"delivery of 640 bytes (allocator, copy, stamps, File Writer)",
         [&](size_t) {
             REFERENCE_TIME start = deliveryPosition;
             REFERENCE_TIME stop = start + EncodedBytes;
             deliveryPosition = stop;
             return SUCCEEDED(output->Deliver(encoded.data(), EncodedBytes, EncodedBytes, &start, &stop, FALSE));
         }},
        {"File Writer Receive of 640 bytes (not ours)",
         [&](size_t) {
             IMediaSample* sample = nullptr;
             if (FAILED(output->GetDeliveryBuffer(&sample, nullptr, nullptr, 0)))
                 return false;
             REFERENCE_TIME start = writerPosition;
             REFERENCE_TIME stop = start + EncodedBytes;
             writerPosition = stop;
             sample->SetActualDataLength(EncodedBytes);
             sample->SetTime(&start, &stop);
             const HRESULT hr = m_writerInput->Receive(sample);
             sample->Release();
             return SUCCEEDED(hr);
         }},
        {"trace: scope with an argument, to the file",
         [&](size_t i) {
             CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CInputPin::Receive");
             HRESULT hr = S_OK;
             scope.Begin(&hr, L"0x%08X", static_cast<unsigned>(i));
             return true;
         }},
        {"trace: scope with an argument, formatting only",
         [&](size_t i) {
             CTraceScope scope(quietLog, "MPEG2AudioEncoder::CInputPin::Receive");
             HRESULT hr = S_OK;
             scope.Begin(&hr, L"0x%08X", static_cast<unsigned>(i));
             return true;
         }},
        {"trace: scope without arguments, to the file",
         [&](size_t) {
             CTraceScope scope(s_EncoderLog, "MPEG2AudioEncoder::CFilter::FlushEncodedSamples");
             HRESULT hr = S_OK;
             scope.Begin(&hr);
             return true;
         }},
        {"trace: scope without arguments, formatting only",
         [&](size_t) {
             CTraceScope scope(quietLog, "MPEG2AudioEncoder::CFilter::FlushEncodedSamples");
             HRESULT hr = S_OK;
             scope.Begin(&hr);
             return true;
         }},
        {"trace: Encode's two lines, to the file",
         [&](size_t i) {
             s_EncoderLog.Print(L"CEncoder::Encode( 0x%08X, %d, 0x%08X ) begin\x2026", static_cast<unsigned>(i),
                                CaptureBufferBytes, 0x0022FE40u);
             s_EncoderLog.Print(L"CEncoder::Encode() done, return 0x%08X.", 0u);
             return true;
         }},
        {"trace: Encode's two lines, formatting only",
         [&](size_t i) {
             quietLog.Print(L"CEncoder::Encode( 0x%08X, %d, 0x%08X ) begin\x2026", static_cast<unsigned>(i),
                            CaptureBufferBytes, 0x0022FE40u);
             quietLog.Print(L"CEncoder::Encode() done, return 0x%08X.", 0u);
             return true;
         }},
        {"paired: whole Receive and LAME alone on its context, in turns", nullptr},
        {"paired: Encode, GetBlockAligned and LAME alone on that context", nullptr},
    };
    lame_global_flags* const filterLame = MPEG2AudioEncoder::CEncoderTestSeam::Lame(m_filter->Encoder());
    lame_global_flags* const ownLame =
        MPEG2AudioEncoder::CEncoderTestSeam::Lame(*static_cast<MPEG2AudioEncoder::CEncoder*>(m_ownEncoder.p));
    Step& pairedWhole = m_steps[m_steps.size() - 2];
    Step& pairedCore = m_steps[m_steps.size() - 1];
    auto paired = [&](Step& step, lame_global_flags* lame, const std::function<bool(size_t)>& call) {
        // The second of two calls finds the buffer and LAME's tables in the cache: the order alternates.
        return [&step, lame, call, &bufferAt, frames](size_t i) {
            const bool callFirst = i % 2 == 0;
            const LONGLONG start = Ticks();
            if (callFirst ? !call(i) : !LameOnly(lame, bufferAt(i), static_cast<int>(frames)))
                return false;
            const LONGLONG middle = Ticks();
            if (callFirst ? !LameOnly(lame, bufferAt(i), static_cast<int>(frames)) : !call(i))
                return false;
            const LONGLONG end = Ticks();
            step.callTicks.push_back(callFirst ? middle - start : end - middle);
            step.lameTicks.push_back(callFirst ? end - middle : middle - start);
            return true;
        };
    };
    pairedWhole.run = paired(pairedWhole, filterLame, m_steps[0].run);
    pairedCore.run = paired(pairedCore, ownLame, m_steps[3].run);

    CLogCounter log(L"MPEG2AudioEncoder.log");
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    for (int round = 0; round < rounds; ++round) {
        for (Step& step : m_steps) {
            const LONGLONG before = log.Size();
            for (size_t i = 0; i < m_buffers; ++i) {
                LARGE_INTEGER start, stop;
                ::QueryPerformanceCounter(&start);
                const bool ok = step.run(i);
                ::QueryPerformanceCounter(&stop);
                if (!ok) {
                    std::fprintf(stderr, "%s failed at buffer %u\n", step.name, static_cast<unsigned>(i));
                    return false;
                }
                step.ticks.push_back(stop.QuadPart - start.QuadPart);
            }
            if (&step == &m_steps.front())
                m_linesPerBuffer = log.LinesBetween(before, log.Size()) / static_cast<long>(m_buffers);
        }
    }
    // The mean call, leaving out calls that took more than three times the median: those lost their core
    // to another process. (LAME's calls differ by the frames each completes, up to twice the time, so the
    // median alone would pick one kind of call.)
    for (Step& step : m_steps)
        step.best = RobustMean(step.ticks) / static_cast<double>(frequency.QuadPart);
    m_frequency = static_cast<double>(frequency.QuadPart);
    Report(rounds);

    m_ownEncoder->Close(nullptr);
    lame_close(m_lame);
    m_inputSample->Release();
    m_inputAllocator->Decommit();
    m_control->Stop();
    return true;
}

void CProfile::Report(int rounds)
{
    auto us = [this](int index) { return m_steps[index].best * 1e6; };
    const double whole = us(0);
    const double lame = us(2);
    const double core = us(3);
    const double checks = us(4);
    const double allocator = us(5);
    const double delivery = us(6);
    const double writer = us(7);
    // The lines of one buffer: five scopes (the input pin's and the filter's Receive with an argument;
    // CheckStreaming, FlushEncodedSamples and GetBlockAligned without) and Encode's two lines.
    const double traceFile = 2 * us(8) + 3 * us(10) + us(12);
    const double traceFormat = 2 * us(9) + 3 * us(11) + us(13);
    const double oneScopeLine = us(10) / 2;
    const double coreOwn = core - lame - (us(12) + 2 * us(10));   // Encode's lines, GetBlockAligned's scope
    const double checksOwn = checks - 2 * oneScopeLine;
    // The File Writer step takes its sample from the allocator too: the writer alone is the difference.
    const double writerOnly = writer - allocator;
    const double deliveryOwn = delivery - writer;
    const double listed = traceFile + checksOwn + coreOwn + lame + allocator + deliveryOwn + writerOnly;

    std::printf("one 40 ms buffer (44.1 kHz mono, 3528 bytes) on the MP3 path, mean call of %d rounds of %u buffers\n",
                rounds, static_cast<unsigned>(m_buffers));
    std::printf("encoder log lines per buffer: %ld\n\n", m_linesPerBuffer);
    std::printf("%-58s %10s\n", "step", "us/buffer");
    auto row = [](const char* name, double value) { std::printf("%-58s %10.2f\n", name, value); };
    row("trace lines (12 per buffer), formatted and written", traceFile);
    row("  formatting alone", traceFormat);
    row("  the writes (the difference)", traceFile - traceFormat);
    row("receive checks, without their trace lines", checksOwn);
    row("encoder core outside LAME, without its trace lines", coreOwn);
    row("LAME itself", lame);
    row(g_userSpaceAllocator ? "allocator round trip (user-space allocator)" : "allocator round trip (the platform's allocator)",
        allocator);
    row("delivery: copy and stamps, beyond allocator and File Writer", deliveryOwn);
    row("File Writer Receive (the platform's part)", writerOnly);
    row("rest of the filter (locks, sample calls, loop)", whole - listed);
    row("whole Receive at the encoder's input pin (measured)", whole);
    std::printf("\nwhole - LAME - allocator - File Writer: %.2f us; whole / LAME = %.3f (separate steps)\n",
                whole - lame - writer, whole / lame);
    auto mean = [this](const std::vector<LONGLONG>& values) { return RobustMean(values) * 1e6 / m_frequency; };
    const Step& pairedWhole = m_steps[m_steps.size() - 2];
    const Step& pairedCore = m_steps[m_steps.size() - 1];
    const double wholeLame = mean(pairedWhole.lameTicks);
    const double wholeBeyond = mean(pairedWhole.callTicks) - wholeLame;
    const double coreLame = mean(pairedCore.lameTicks);
    const double coreBeyond = mean(pairedCore.callTicks) - coreLame;
    std::printf("\nsame-context pairs (each buffer: the call and LAME alone on the call's own LAME context, in turns "
                "first; means as above):\n");
    std::printf("  encoder core (Encode, GetBlockAligned): LAME %.2f us, beyond LAME %.2f us, ratio %.3f\n", coreLame,
                coreBeyond, 1 + coreBeyond / coreLame);
    std::printf("  whole Receive: LAME %.2f us, beyond LAME %.2f us, ratio %.3f; beyond LAME without the allocator\n"
                "  round trip and the File Writer (the platform's, figures above): %.2f us, ratio %.3f\n",
                wholeLame, wholeBeyond, 1 + wholeBeyond / wholeLame, wholeBeyond - writer,
                1 + (wholeBeyond - writer) / wholeLame);
    std::printf("\nraw figures, us per call:\n");
    for (const Step& step : m_steps)
        std::printf("  %-60s %10.2f\n", step.name, step.best * 1e6);
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 20;
    const int rounds = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 5;
    const bool userSpaceAllocator = argc > 3 && std::strcmp(argv[3], "user-space-allocator") == 0;
    g_userSpaceAllocator = userSpaceAllocator;
    if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    bool ok = false;
    {
        std::unique_ptr<Bench::CUserSpaceAllocatorRegistration> registration;
        if (userSpaceAllocator) {
            registration = std::make_unique<Bench::CUserSpaceAllocatorRegistration>();
            if (FAILED(registration->Result()))
                return 1;
            std::printf("every allocator of the process: the benchmarks' user-space allocator\n");
        }
        CProfile profile;
        ok = profile.Run(seconds, rounds);
    }
    ::CoUninitialize();
    return ok ? 0 : 1;
}
