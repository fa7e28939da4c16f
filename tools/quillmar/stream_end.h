// How a recording or playback ended, and what the tool says about it: every failure is one line on
// stderr ("quillmar: <operation> failed: <why>") and exit status 1; an end by the user or at the end of
// the stream is exit status 0.
#pragma once

#include <windows.h>

#include <string>

struct StreamEnd {
    // Media event codes of the ends that the library reports through "Stopped".
    static constexpr int kComplete = 0x01;
    static constexpr int kErrorAbort = 0x03;
    static constexpr int kStreamErrorStopped = 0x07;
    static constexpr int kStreamControlStopped = 0x1A;
    static constexpr int kDeviceLost = 0x1F;

    int stoppedValue = 0;       // what "Stopped" was called with: 0 an end, 1 a failure or a lost device
    bool causeKnown = false;    // the library told the cause (getEndCause)
    int eventCode = 0;          // the media event that ended the stream
    HRESULT result = S_OK;      // the error of an abort
};

struct EndReport {
    int exitStatus = 0;
    std::wstring error;         // the line for stderr, with its newline; empty when none
};

class CStreamEndReport {
public:
    // What to say when the library ended the stream. `operation` names it ("record \"memo.mp3\"");
    // `recording` tells which device a lost device was.
    static EndReport ForEnd(const std::wstring& operation, bool recording, const StreamEnd& end);
    // A failure of the tool's own finding (for example "the capture device delivered too little audio").
    static EndReport Failure(const std::wstring& operation, const std::wstring& why);
};
