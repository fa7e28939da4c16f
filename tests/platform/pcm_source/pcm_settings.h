#pragma once
// What the PCM test source produces: a tone or noise in a chosen PCM format, cut into buffers of
// a chosen duration, for a chosen length, paced by the graph clock or as fast as downstream takes it.
#include <windows.h>
#include <mmreg.h>
#include <strmif.h>

#include <functional>

namespace PcmSource {

enum class Waveform {
    Tone,  // a sine of the given frequency on every channel (the second one's own, when given)
    Noise, // white noise from a fixed seed, each channel its own
    // Digital silence (0, or 128 for 8-bit samples), written a whole buffer at a time: next to no
    // cost, for benchmarks that put their own bytes into each sample (beforeDelivery).
    Silence,
};

struct Settings {
    Waveform waveform = Waveform::Tone;
    double frequency = 440.0; // Hz (tone)
    double secondFrequency = 0.0; // Hz: the second channel's tone; 0: the same as frequency
    double amplitude = 0.5;   // peak, as a fraction of full scale (0 to 1)
    UINT32 seed = 1;          // noise generator start value (0 counts as 1)

    DWORD sampleRate = 44100;
    WORD channels = 1;       // 1 or 2
    WORD bitsPerSample = 16; // 8 (unsigned) or 16 (signed little-endian)

    DWORD bufferMilliseconds = 40; // duration of one full sample
    LONG buffers = 4;              // allocator buffers asked for when downstream leaves it open
    // Audio to deliver in 100-ns units, after which end of stream follows; negative: endless.
    // The last sample carries what is left and may be shorter than a full one.
    REFERENCE_TIME length = 10000000;

    // true: a live source. Each sample goes out once the graph clock has passed its stop time
    // while the filter runs; nothing is delivered while paused. false: samples go out as fast as
    // downstream takes them, in Paused as in Running.
    bool realTime = false;

    // true: MEDIATYPE_Stream without format, each sample stamped with the byte positions of its
    // first byte and of the byte after its last (what a file writer expects). false:
    // MEDIATYPE_Audio / PCM with a WAVEFORMATEX, stamped in 100-ns units from the stream start.
    bool streamOutput = false;

    // Called on the streaming thread with each filled sample (index from 0) before it goes out.
    // S_OK: deliver it. S_FALSE: deliver nothing more and send end of stream. A failure: send
    // nothing more and report the failure to the graph as EC_ERRORABORT.
    std::function<HRESULT(ULONG index, IMediaSample* sample)> beforeDelivery;
};

// E_INVALIDARG for settings the source cannot produce (channels, sample width, a rate of 0 or
// above 384000 Hz, an amplitude outside 0..1, buffers that hold no frame, no allocator buffer).
HRESULT CheckSettings(const Settings& settings);

WAVEFORMATEX WaveFormatOf(const Settings& settings);
ULONG BytesPerFrame(const Settings& settings);
ULONG FramesPerBuffer(const Settings& settings);
// Frames in the whole stream; -1 when endless.
LONGLONG TotalFrames(const Settings& settings);
// Start of frame n in 100-ns units (exact, without accumulated rounding).
REFERENCE_TIME TimeOfFrame(const Settings& settings, LONGLONG frame);

// Fills an initialised record with the type the source offers. E_OUTOFMEMORY without memory for
// the format block.
HRESULT MakeMediaType(const Settings& settings, AM_MEDIA_TYPE* mt);

} // namespace PcmSource
