#include "quillmar/volume_level.h"

#include <cmath>

int CVolumeLevel::ToHundredthsDb(int percent)
{
    if (percent <= 0)
        return kSilence;
    if (percent >= 100)
        return 0;
    const long hundredths = std::lround(2000.0 * std::log10(percent / 100.0));
    return hundredths < kSilence ? kSilence : static_cast<int>(hundredths);
}

int CVolumeLevel::ToPercent(int hundredthsDb)
{
    if (hundredthsDb <= kSilence)
        return 0;
    if (hundredthsDb >= 0)
        return 100;
    return static_cast<int>(std::lround(100.0 * std::pow(10.0, hundredthsDb / 2000.0)));
}
