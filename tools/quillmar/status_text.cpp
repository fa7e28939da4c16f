#include "quillmar/status_text.h"

#include <cmath>
#include <cwchar>

namespace {

std::wstring Bar(double fraction, int width)
{
    if (!(fraction > 0.0))
        fraction = 0.0;
    if (fraction > 1.0)
        fraction = 1.0;
    const int filled = static_cast<int>(std::lround(fraction * width));
    return L"[" + std::wstring(static_cast<std::size_t>(filled), L'#') +
           std::wstring(static_cast<std::size_t>(width - filled), L'.') + L"]";
}

}  // namespace

std::wstring CStatusText::Time(double seconds)
{
    if (!(seconds > 0.0))
        seconds = 0.0;
    const long long tenths = std::llround(std::floor(seconds * 10.0));
    const long long totalSeconds = tenths / 10;
    wchar_t text[40];
    if (totalSeconds >= 3600)
        std::swprintf(text, 40, L"%lld:%02lld:%02lld.%lld", totalSeconds / 3600, totalSeconds / 60 % 60,
                      totalSeconds % 60, tenths % 10);
    else
        std::swprintf(text, 40, L"%02lld:%02lld.%lld", totalSeconds / 60, totalSeconds % 60, tenths % 10);
    return text;
}

std::wstring CStatusText::LevelBar(double level, double elapsedSeconds, int width)
{
    if (!(level > 0.0))
        level = 0.0;
    if (level > 1.0)
        level = 1.0;
    wchar_t percent[8];
    std::swprintf(percent, 8, L"%3d%%", static_cast<int>(std::lround(level * 100.0)));
    return Bar(level, width) + L" " + percent + L"  " + Time(elapsedSeconds);
}

std::wstring CStatusText::Progress(double position, double duration, bool paused, int width)
{
    std::wstring text = paused ? L"Paused   " : L"Playing  ";
    text += Time(position) + L" / " + Time(duration);
    if (duration > 0.0)
        text += L"  " + Bar(position / duration, width);
    return text;
}

std::wstring CStatusText::DroppedAudio(unsigned long gaps, double missingSeconds, bool lengthKnown)
{
    if (gaps == 0)
        return L"no audio lost";
    wchar_t text[80];
    const wchar_t* noun = gaps == 1 ? L"gap" : L"gaps";
    if (!lengthKnown)
        std::swprintf(text, 80, L"lost audio in %lu %ls (length unknown)", gaps, noun);
    else
        std::swprintf(text, 80, L"lost %lld ms in %lu %ls", std::llround(missingSeconds > 0.0 ? missingSeconds * 1000.0 : 0.0),
                      gaps, noun);
    return text;
}
