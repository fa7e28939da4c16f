#include "binding/java_callbacks.h"

#include <dshow.h>

#include "binding/library_objects.h"
#include "binding/media_event_names.h"
#include "binding/native_frame.h"
#include "support/trace_log.h"

namespace {

// A renderer reports the end of its stream once it has written the last audio to its device, while that
// audio, up to the device's buffer and latency, is still to be heard: the end reaches Java only after
// it has sounded, so that a player that stops at the end cuts nothing off. The end record is kept at
// once; only the delivery waits, on the delivery thread, so the media event thread goes on.
constexpr DWORD kOutputDrainMilliseconds = 500;

// Whether the graph event ends the stream, and how: the end of a recording or playback
// (EC_COMPLETE, EC_STREAM_CONTROL_STOPPED), a lost device (EC_DEVICE_LOST with param2 0) or an abort
// by a streaming error (EC_ERRORABORT, EC_STREAM_ERROR_STOPPED, with the error in param1).
bool EndOf(long code, LONG_PTR param1, LONG_PTR param2, JNI::SEndCause* cause)
{
    cause->code = code;
    switch (code) {
    case EC_COMPLETE:
    case EC_STREAM_CONTROL_STOPPED:
        return true;
    case EC_DEVICE_LOST:
        // The second parameter is 1 when the device came back: nothing has ended.
        cause->abnormal = param2 == 0;
        return cause->abnormal;
    case EC_ERRORABORT:
    case EC_STREAM_ERROR_STOPPED:
        cause->result = static_cast<HRESULT>(param1);
        cause->abnormal = true;
        return true;
    default:
        return false;
    }
}

} // namespace

void callback_MediaEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    // An end is kept as the end record now, whenever (and whether) "Stopped" is delivered.
    JNI::SEndCause cause;
    s_Listener.PostEvent(code, param1, param2, EndOf(code, param1, param2, &cause) ? &cause : nullptr,
                         code == EC_COMPLETE ? kOutputDrainMilliseconds : 0);
}

HRESULT VolumeMeter_Callback(double level)
{
    // A level while no stream is open (S_FALSE) is dropped; the sample goes on all the same.
    return s_Listener.PostLevel(level) == E_UNEXPECTED ? E_UNEXPECTED : S_OK;
}

namespace JNI {

void DeliverMediaEvent(SListener& listener, long code, LONG_PTR param1, LONG_PTR param2, LONG /*stream*/)
{
    HRESULT hr = S_OK;
    // A code the table does not know is traced as "(null)", as the runtime prints a null string.
    CNativeFrame frame("callback_MediaEvent", &hr, CNativeFrame::WithoutLock, L"%d = %s", static_cast<int>(code),
                       MediaEventName(code));
    SEndCause cause;
    if (!EndOf(code, param1, param2, &cause)) {
        if (code == EC_DEVICE_LOST)
            s_MainLog.Print(L"device available again…");
        return;
    }
    if (code == EC_ERRORABORT || code == EC_STREAM_ERROR_STOPPED) {
        // A streaming error has stopped the data: nothing is recorded or played any more, which Java
        // hears as an abnormal end. The first parameter is the error.
        s_MainLog.Print(L"aborted by a streaming error 0x%08X…", static_cast<unsigned>(param1));
    }
    // The end record was kept at the hand-over; a call that fails (no Java environment, an exception)
    // is traced by this scope's done line and leaves the record for getEndCause.
    s_MainLog.Print(L"call Java…");
    bool threw = false;
    hr = listener.stopped.CallNoting(&threw, static_cast<jint>(cause.abnormal ? 1 : 0));
    if (FAILED(hr) && !threw)
        s_MainLog.Print(L"\"Stopped\" not delivered 0x%08X, the end stays readable…", static_cast<unsigned>(hr));
    s_MainLog.Print(L"call done.");
}

void DeliverLevel(SListener& listener, double level)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("VolumeMeter_Callback", &hr, CNativeFrame::WithoutLock, L"%f", level);
    hr = listener.inputLevel.Call(static_cast<jdouble>(level));
}

} // namespace JNI
