#pragma once
// The native entry points through which the library's threads reach Java. The media event thread's
// event callback and the volume meter's level callback only hand their news to the listener delivery
// (s_Listener) and return at once; the delivery thread then calls Java through the two Deliver
// functions below, which write the "callback_MediaEvent" and "VolumeMeter_Callback" trace scopes.
// None of them takes the library lock.
#include <windows.h>

#include "binding/listener_delivery.h"

// Hands a graph event to the delivery thread, an end with its cause, which the delivery keeps as the
// end record at once. Runs on the media event thread.
void callback_MediaEvent(long code, LONG_PTR param1, LONG_PTR param2);

// Hands a measured input level (0.0 to 1.0) to the delivery thread, replacing a level not yet
// delivered. S_OK; E_UNEXPECTED when the library is not initialised. Runs on the capture graph's
// streaming thread.
HRESULT VolumeMeter_Callback(double level);

namespace JNI {

// On the delivery thread: passes the end of a recording or playback (EC_COMPLETE,
// EC_STREAM_CONTROL_STOPPED: 0), a lost device (EC_DEVICE_LOST with param2 0: 1) or an abort by a
// streaming error (EC_ERRORABORT, EC_STREAM_ERROR_STOPPED: 1) to "Stopped" (its cause was kept when it
// was handed over); every other event (a device that came back among them) is only traced. A call
// that Java could not be reached for is traced ("\"Stopped\" not delivered 0x%08X, the end stays
// readable…").
void DeliverMediaEvent(SListener& listener, long code, LONG_PTR param1, LONG_PTR param2, LONG stream);

// On the delivery thread: passes a level to "InputLevel". An exception thrown by the listener is
// traced as a failed call.
void DeliverLevel(SListener& listener, double level);

} // namespace JNI
