#pragma once
// The native entry points through which the library's threads reach Java: the media event thread's
// event callback and the volume meter's level callback. Neither takes the library lock.
#include <windows.h>

// Passes the end of a recording or playback (EC_COMPLETE, EC_STREAM_CONTROL_STOPPED: 0), a lost
// device (EC_DEVICE_LOST: 1) or an abort by a streaming error (EC_ERRORABORT, EC_STREAM_ERROR_STOPPED:
// 1) to "Stopped"; every other event is only traced. Runs on the media event thread.
void callback_MediaEvent(long code, LONG_PTR param1, LONG_PTR param2);

// Passes a measured input level (0.0 to 1.0) to "InputLevel"; returns the call's result, except that
// an exception thrown by the listener is traced as a failed call and the sample still succeeds.
HRESULT VolumeMeter_Callback(double level);
