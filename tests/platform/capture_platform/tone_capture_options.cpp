#include "tone_capture_options.h"

namespace CapturePlatform {

namespace {

// The variable's value; empty when unset (or when it cannot be read).
std::wstring Variable(const wchar_t* name)
{
    WCHAR small[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(name, small, MAX_PATH);
    if (length == 0)
        return std::wstring();
    if (length < MAX_PATH)
        return std::wstring(small, length);
    // Longer than the stack buffer: length is the size needed, terminator included.
    std::wstring value(length, L'\0');
    const DWORD copied = ::GetEnvironmentVariableW(name, &value[0], length);
    value.resize(copied < length ? copied : 0);
    return value;
}

// A decimal number of up to nine digits, or false.
bool ParseMilliseconds(const std::wstring& text, DWORD* value)
{
    if (text.empty() || text.size() > 9)
        return false;
    DWORD number = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        number = number * 10 + static_cast<DWORD>(c - L'0');
    }
    *value = number;
    return true;
}

} // namespace

CaptureOptions CaptureOptions::FromEnvironment()
{
    CaptureOptions options;
    try {
        DWORD hold = 0;
        if (ParseMilliseconds(Variable(L"TESSARO_TEST_CAPTURE_HOLD_MS"), &hold))
            options.holdMilliseconds = hold;
        options.fast = Variable(L"TESSARO_TEST_CAPTURE_FAST") == L"1";
        options.monoOnly = Variable(L"TESSARO_TEST_CAPTURE_MONO_ONLY") == L"1";
        options.reportPath = Variable(L"TESSARO_TEST_CAPTURE_REPORT");
        options.dropAt = ParseMilliseconds(Variable(L"TESSARO_TEST_CAPTURE_DROP_AT_MS"), &options.dropAtMilliseconds);
    } catch (...) {
        // Out of memory: the defaults.
        return CaptureOptions();
    }
    return options;
}

} // namespace CapturePlatform
