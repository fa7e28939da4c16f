// The texts of the one refreshing status line: the input level bar while recording and the progress
// while playing. Plain ASCII, so that every console and log shows them alike.
#pragma once

#include <string>

class CStatusText {
public:
    // "[##########..........]  50%  00:03.2": the level (0.0 to 1.0, clamped) as a bar of `width`
    // cells, then the elapsed time.
    static std::wstring LevelBar(double level, double elapsedSeconds, int width = 30);
    // "Playing  00:01.2 / 00:02.0  [######....]" or "Paused   ..."; a duration of 0 or less shows no bar.
    static std::wstring Progress(double position, double duration, bool paused, int width = 20);
    // What a recording lost: "no audio lost", "lost 120 ms in 3 gaps", "lost 40 ms in 1 gap", or, when the
    // device set no time stamps, "lost audio in 2 gaps (length unknown)".
    static std::wstring DroppedAudio(unsigned long gaps, double missingSeconds, bool lengthKnown);
    // "mm:ss.t", hours added from one hour on; negative times show as 00:00.0.
    static std::wstring Time(double seconds);
};
