// Speed of the MP3 encoder core against LAME alone.
//
// Encodes the same 600 s of 44.1 kHz mono pink noise at 128 kbit/s, quality 5:
//   (a) with a bare LAME loop (1152 sample frames per call),
//   (b) through MPEG2AudioEncoder::CEncoder: Encode and GetBlockAligned until all input is taken, with
//       the whole rest of the input offered to each Encode, in pieces of 1 s, and in pieces of 40 ms as
//       the capture graph delivers them.
// Each is run three times, interleaved; the best time of each counts. Prints the times, the real-time
// factors and the ratios to (a).
//
//   encoder_bench.exe [noise.wav]   also writes the noise as a 16-bit WAV file for other encoders
#include "filters/mpeg2_audio_encoder/encoder.h"
#include "stdax/com/ptr.h"

#include "bench_support.h"

#include <lame/lame.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using MPEG2AudioEncoder::CEncoder;
using MPEG2AudioEncoder::IEncoder;

constexpr int SampleRate = 44100;
constexpr int Seconds = 600;
constexpr int Runs = 3;
constexpr ULONG SecondBytes = SampleRate * sizeof(short);
constexpr ULONG CaptureBufferBytes = SampleRate / 25 * sizeof(short);   // 40 ms of mono
constexpr int Variants = 4;

using Bench::PinkNoise;

void PutLE(std::vector<unsigned char>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

bool WriteWav(const char* path, const std::vector<short>& samples)
{
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * sizeof(short));
    std::vector<unsigned char> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    PutLE(header, 36 + dataBytes, 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLE(header, 16, 4);
    PutLE(header, WAVE_FORMAT_PCM, 2);
    PutLE(header, 1, 2);
    PutLE(header, SampleRate, 4);
    PutLE(header, SampleRate * sizeof(short), 4);
    PutLE(header, sizeof(short), 2);
    PutLE(header, 16, 2);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    PutLE(header, dataBytes, 4);
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
        return false;
    const bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                    std::fwrite(samples.data(), sizeof(short), samples.size(), file) == samples.size();
    return std::fclose(file) == 0 && ok;
}

using Bench::Now;

// (a) LAME alone, configured as the encoder configures it for this input.
const auto BareLame = &Bench::BareLameLoop;

bool TakeOut(IEncoder* encoder, size_t& bytesOut)
{
    BYTE* data = nullptr;
    ULONG aligned = 0;
    ULONG size = 0;
    if (FAILED(encoder->GetBlockAligned(1, &data, &aligned, &size)))
        return false;
    bytesOut += size;
    return true;
}

// (b) through the encoder object; the input is offered in pieces of at most pieceBytes.
double ThroughEncoder(const std::vector<short>& pcm, ULONG pieceBytes, size_t& bytesOut)
{
    const double start = Now();
    COM::TPtr<IEncoder> encoder;
    if (FAILED(COM::CreateObject(&CEncoder::CreateInstance, nullptr, MPEG2AudioEncoder::IID_IEncoder,
                                 reinterpret_cast<void**>(&encoder))))
        return -1;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = SampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = sizeof(short);
    format.nAvgBytesPerSec = SampleRate * sizeof(short);
    if (FAILED(encoder->SetInputType(&format)) || FAILED(encoder->Open()))
        return -1;
    bytesOut = 0;
    const BYTE* const bytes = reinterpret_cast<const BYTE*>(pcm.data());
    const size_t total = pcm.size() * sizeof(short);
    for (size_t piece = 0; piece < total; piece += pieceBytes) {
        const ULONG pieceSize = static_cast<ULONG>(total - piece < pieceBytes ? total - piece : pieceBytes);
        ULONG offset = 0;
        while (offset < pieceSize) {
            ULONG consumed = 0;
            if (FAILED(encoder->Encode(reinterpret_cast<const short*>(bytes + piece + offset), pieceSize - offset,
                                       &consumed)))
                return -1;
            if (!TakeOut(encoder, bytesOut))
                return -1;
            if (consumed == 0)
                break;
            offset += consumed;
        }
    }
    if (FAILED(encoder->Flush()) || !TakeOut(encoder, bytesOut) || FAILED(encoder->Close(nullptr)))
        return -1;
    return Now() - start;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<short> pcm = PinkNoise(static_cast<size_t>(SampleRate) * Seconds);
    if (argc > 1 && !WriteWav(argv[1], pcm)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }

    const ULONG whole = static_cast<ULONG>(pcm.size() * sizeof(short));
    const int runs = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : Runs;
    double best[Variants];
    double bestCpu[Variants];
    size_t bytes[Variants] = {};
    for (int i = 0; i < Variants; ++i)
        best[i] = bestCpu[i] = 1e30;
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < Variants; ++i) {
            const double cpuStart = Bench::ProcessCpuSeconds();
            const double time = i == 0   ? BareLame(pcm, bytes[0])
                                : i == 1 ? ThroughEncoder(pcm, whole, bytes[1])
                                : i == 2 ? ThroughEncoder(pcm, SecondBytes, bytes[2])
                                         : ThroughEncoder(pcm, CaptureBufferBytes, bytes[3]);
            const double cpu = Bench::ProcessCpuSeconds() - cpuStart;
            if (time < 0) {
                std::fprintf(stderr, "encoding failed\n");
                return 1;
            }
            best[i] = time < best[i] ? time : best[i];
            bestCpu[i] = cpu < bestCpu[i] ? cpu : bestCpu[i];
        }
    }

    const char* const names[Variants] = {"(a) bare LAME loop", "(b) CEncoder, whole rest offered",
                                         "(b) CEncoder, 1 s pieces", "(b) CEncoder, 40 ms pieces"};
    std::printf("%d s of 44.1 kHz mono pink noise, 128 kbit/s, quality 5, best of %d (wall time; CPU time of the process)\n",
                Seconds, runs);
    for (int i = 0; i < Variants; ++i)
        std::printf("%-36s %8.3f s  %7.1f x real time  %9zu bytes  ratio to (a) %.3f   cpu %7.3f s  ratio %.3f\n",
                    names[i], best[i], Seconds / best[i], bytes[i], best[i] / best[0], bestCpu[i],
                    bestCpu[i] / bestCpu[0]);
    return 0;
}
