#pragma once
// What the benchmarks share: the test signal, the clock, and LAME configured as the encoder filter
// configures it for 44.1 kHz mono at 128 kbit/s, quality 5.
#include <windows.h>

#include <lame/lame.h>

#include <cstdint>
#include <vector>

namespace Bench {

constexpr int SampleRate = 44100;
constexpr ULONG CaptureBufferBytes = SampleRate / 25 * sizeof(short);   // 40 ms of 16-bit mono

// Pink noise (white noise through Paul Kellet's economy filter) from a fixed linear congruential
// generator, so every run and every program sees the same samples.
inline std::vector<short> PinkNoise(size_t count)
{
    std::vector<short> samples(count);
    uint32_t state = 0x12345678u;
    double b0 = 0, b1 = 0, b2 = 0;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const double white = static_cast<double>(state >> 8) / 8388608.0 - 1.0;
        b0 = 0.99765 * b0 + white * 0.0990460;
        b1 = 0.96300 * b1 + white * 0.2965164;
        b2 = 0.57000 * b2 + white * 1.0526913;
        double pink = (b0 + b1 + b2 + white * 0.1848) * 0.05;
        pink = pink > 1.0 ? 1.0 : (pink < -1.0 ? -1.0 : pink);
        samples[i] = static_cast<short>(pink * 32767.0);
    }
    return samples;
}

// Seconds on the performance counter.
inline double Now()
{
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// CPU time of the whole process so far (user and kernel, all threads), in seconds. Under load this is
// the steadier measure: it does not count the time the process waited for a core.
inline double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    auto seconds = [](const FILETIME& time) {
        ULARGE_INTEGER value;
        value.LowPart = time.dwLowDateTime;
        value.HighPart = time.dwHighDateTime;
        return static_cast<double>(value.QuadPart) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// A LAME context set up as the encoder sets it up for 44.1 kHz mono input, 128 kbit/s CBR, quality 5,
// no tag frame; null when LAME gives none.
inline lame_global_flags* OpenBareLame()
{
    lame_global_flags* lame = lame_init();
    if (lame == nullptr)
        return nullptr;
    lame_set_num_channels(lame, 1);
    lame_set_in_samplerate(lame, SampleRate);
    lame_set_out_samplerate(lame, SampleRate);
    lame_set_brate(lame, 128);
    lame_set_VBR(lame, vbr_off);
    lame_set_copyright(lame, 0);
    lame_set_original(lame, 0);
    lame_set_bWriteVbrTag(lame, 0);
    lame_set_mode(lame, MONO);
    lame_set_quality(lame, 5);
    lame_init_params(lame);
    return lame;
}

// The bare LAME loop: a context set up as above, the whole of pcm in calls of 1152 sample frames, then
// the flush. Returns the wall time in seconds (negative when LAME fails) and the bytes it gave.
inline double BareLameLoop(const std::vector<short>& pcm, size_t& bytesOut)
{
    constexpr size_t FramesPerCall = 1152;
    static unsigned char output[16384];
    const double start = Now();
    lame_global_flags* lame = OpenBareLame();
    if (lame == nullptr)
        return -1;
    bytesOut = 0;
    for (size_t at = 0; at < pcm.size(); at += FramesPerCall) {
        const int count = static_cast<int>(pcm.size() - at < FramesPerCall ? pcm.size() - at : FramesPerCall);
        const int written = lame_encode_buffer(lame, &pcm[at], &pcm[at], count, output, sizeof(output));
        if (written < 0) {
            lame_close(lame);
            return -1;
        }
        bytesOut += static_cast<size_t>(written);
    }
    const int written = lame_encode_flush(lame, output, sizeof(output));
    bytesOut += written > 0 ? static_cast<size_t>(written) : 0;
    lame_close(lame);
    return Now() - start;
}

} // namespace Bench
