// The volume as the user gives it (percent of the full amplitude, 0 to 100) and as the library takes it
// (IBasicAudio: hundredths of a decibel, -10000 silence to 0 full): 2000 log10(percent / 100).
#pragma once

class CVolumeLevel {
public:
    static constexpr int kSilence = -10000;

    // 50 -> -602, 100 -> 0, 0 -> -10000; percent clamped to 0..100.
    static int ToHundredthsDb(int percent);
    // The nearest percent of the amplitude; -10000 and below -> 0.
    static int ToPercent(int hundredthsDb);
};
