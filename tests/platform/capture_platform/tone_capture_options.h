#pragma once
// How a tone capture device behaves when its streaming thread cannot keep up, and where it reports
// what it dropped: read from the process environment when the filter is created, so that a test sets
// them (SetEnvironmentVariableW, or an export in a script) before the graph is built.
//
//   TESSARO_TEST_CAPTURE_HOLD_MS   Audio (ms) the device holds for a streaming thread that falls
//                                  behind; default 1000 (kDefaultHoldMilliseconds), at least one buffer
//                                  whatever is asked. Decimal digits only; anything else is the default.
//   TESSARO_TEST_CAPTURE_FAST      "1": fast mode (no pacing, never drops; see tone_capture_pin.h).
//   TESSARO_TEST_CAPTURE_REPORT    A file (Windows path) that the device appends its report to
//                                  (format in tone_capture_report.h); unset or empty: no report.
//   TESSARO_TEST_CAPTURE_DROP_AT_MS  A forced drop: once per run, when the streaming thread has delivered
//                                  the audio up to this stream time (ms), it stays away for the hold
//                                  plus 100 ms (as a thread stalled by a loaded machine), so the device
//                                  drops its oldest audio as it always does. Unset: never. Decimal digits.
//   TESSARO_TEST_CAPTURE_MONO_ONLY "1": the capture pin refuses every format but mono (a device
//                                  without stereo).
#include <windows.h>

#include <string>

namespace CapturePlatform {

// The long end of what system capture drivers queue (a few buffers up to about a second). A loaded test
// machine stalls a streaming thread for several hundred ms now and then (500 ms was seen to drop under ten
// times more runnable threads than cores), which must cost no audio in tests that do not ask for drops;
// a thread held 120 ms for every 40 ms buffer still starts dropping within two seconds. Tests about
// drops set the hold they mean.
inline constexpr DWORD kDefaultHoldMilliseconds = 1000;

struct CaptureOptions {
    DWORD holdMilliseconds = kDefaultHoldMilliseconds;
    bool fast = false;
    std::wstring reportPath;
    bool dropAt = false;
    DWORD dropAtMilliseconds = 0;
    bool monoOnly = false;

    // The options the environment sets, the defaults for the rest.
    static CaptureOptions FromEnvironment();
};

} // namespace CapturePlatform
