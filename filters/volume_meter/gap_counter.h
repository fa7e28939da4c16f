#pragma once
// VolumeMeter::CGapCounter: finds the audio that a capture device lost, from the samples it delivers.
//
// A gap is a sample, after the first of a run, that either carries the discontinuity flag or starts later
// than the previous sample ended by more than the tolerance (kToleranceFrames at the stream's rate; the
// devices' own rounding of frame times stays far below it). A sample that is both counts once. The audio
// missing in a gap is the distance between the previous sample's end and the sample's start, from their
// time stamps; a previous sample without a stop time ends after its length at the format's byte rate. A
// flagged sample without usable times is a gap of unknown length (0 missing). A device that sets no times
// is no gap in itself: the first sample without a start time is noted once (UntimedSeen).
//
// Runs: Restart begins a recording (counts back to 0); Resume, after a pause, makes the next sample a new
// start again without clearing the counts (a device may flag or re-time what follows a pause, which is no
// loss). Not thread-safe: the meter calls it on the streaming thread and copies the counts out under a lock.
#include <windows.h>
#include <strmif.h>

namespace VolumeMeter {

class CGapCounter {
public:
    static constexpr LONGLONG kToleranceFrames = 4;

    // What one sample showed.
    struct Finding {
        bool gap = false;
        bool timed = false;              // the gap's place and length come from time stamps
        REFERENCE_TIME at = 0;           // where the lost audio begins (the previous sample's end)
        REFERENCE_TIME missing = 0;      // 100-ns units
        bool firstUntimed = false;       // the first sample of this recording without a start time
    };

    // Begins a recording of the given PCM stream (frames per second, bytes per second; 0 when unknown).
    void Restart(DWORD samplesPerSecond, DWORD bytesPerSecond);
    // After a pause: the next sample starts afresh; the counts stay.
    void Resume() { m_started = false; }

    Finding Observe(const AM_SAMPLE2_PROPERTIES& sample);

    ULONG Gaps() const { return m_gaps; }
    REFERENCE_TIME Missing() const { return m_missing; }
    bool UntimedSeen() const { return m_untimedSeen; }

private:
    DWORD m_bytesPerSecond = 0;
    REFERENCE_TIME m_tolerance = 10000;
    bool m_started = false;
    bool m_haveEnd = false;
    REFERENCE_TIME m_end = 0;
    ULONG m_gaps = 0;
    REFERENCE_TIME m_missing = 0;
    bool m_untimedSeen = false;
};

} // namespace VolumeMeter
