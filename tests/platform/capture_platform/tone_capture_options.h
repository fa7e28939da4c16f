#pragma once
// How a tone capture device behaves when its streaming thread cannot keep up, and where it reports
// what it dropped: read from the process environment when the filter is created, so that a test sets
// them (SetEnvironmentVariableW, or an export in a script) before the graph is built.
//
//   TESSARO_TEST_CAPTURE_HOLD_MS   Audio (ms) the device holds for a streaming thread that falls
//                                  behind; default 500 (kDefaultHoldMilliseconds), at least one buffer
//                                  whatever is asked. Decimal digits only; anything else is the default.
//   TESSARO_TEST_CAPTURE_FAST      "1": fast mode (no pacing, never drops; see tone_capture_pin.h).
//   TESSARO_TEST_CAPTURE_REPORT    A file (Windows path) that the device appends its report to
//                                  (format in tone_capture_report.h); unset or empty: no report.
#include <windows.h>

#include <string>

namespace CapturePlatform {

// What a system capture driver typically queues: a few buffers up to about half a second. Long enough
// that a loaded test machine's scheduling stalls (a few hundred ms at worst) cost no audio; short enough
// that a streaming thread held 120 ms for every 40 ms buffer starts dropping within a second.
inline constexpr DWORD kDefaultHoldMilliseconds = 500;

struct CaptureOptions {
    DWORD holdMilliseconds = kDefaultHoldMilliseconds;
    bool fast = false;
    std::wstring reportPath;

    // The options the environment sets, the defaults for the rest.
    static CaptureOptions FromEnvironment();
};

} // namespace CapturePlatform
