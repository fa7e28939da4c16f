// How much audio a file written by the library holds, read from the file itself: a RIFF WAVE file from
// its fact chunk (the sample count of a compressed format) or its data size and byte rate, an MP3 stream
// from its Layer III frames (an Xing/Info tag frame does not count). Only what the measurement needs is
// read: the chunk headers of a WAVE file, the frame headers of an MP3 stream, through a window of at
// most 64 KiB, so that a file of hours measures in constant memory.
#pragma once

#include <string>

class CMediaLength {
public:
    // Seconds of audio, or a negative value when the file cannot be read or is neither.
    static double Seconds(const std::wstring& path);
    // The same from the bytes of a file.
    static double OfBytes(const std::string& bytes);
};
