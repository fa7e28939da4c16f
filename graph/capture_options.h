#pragma once
// What a recording is asked for, handed to CFilterGraph_Capture::Init as one record, so that a new
// option is a new field with a default and no new parameter list.
#include <windows.h>

#include "support/byte_tap.h"

struct CaptureOptions {
    // The wave format tag (only the low 16 bits count): 85 is MP3, any other a WAVE format through a
    // system audio compressor.
    int formatTag = 0x55;
    int sampleRate = 44100;   // Hz
    int bitRate = 128000;     // bit/s, constant-bit-rate MP3 only
    int channels = 1;         // 1, or 2 (stereo 16-bit capture; MP3 joint stereo)
    int vbrQuality = -1;      // -1 constant bit rate; 0 (best) to 9 (smallest): MP3 variable bit rate
    // Receives the recorded bytes (see IByteTap); null for none. With a tap the path may be empty:
    // then a sink of the library's own stands in for the writer and nothing is written to disk.
    IByteTap* tap = nullptr;

    bool IsMp3() const { return static_cast<WORD>(formatTag) == 0x0055; }
    bool IsVbr() const { return IsMp3() && vbrQuality >= 0; }
};
