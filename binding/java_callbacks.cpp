#include "binding/java_callbacks.h"

#include <dshow.h>

#include "binding/library_objects.h"
#include "binding/media_event_names.h"
#include "binding/native_frame.h"
#include "support/trace_log.h"

namespace {

// A renderer reports the end of its stream once it has written the last audio to its device, while that
// audio, up to the device's buffer and latency, is still to be heard: the end reaches Java only after
// it has sounded, so that a player that stops at the end cuts nothing off.
constexpr DWORD kOutputDrainMilliseconds = 500;

} // namespace

void callback_MediaEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    if (code == EC_COMPLETE)
        ::Sleep(kOutputDrainMilliseconds);
    s_Listener.PostEvent(code, param1, param2);
}

HRESULT VolumeMeter_Callback(double level)
{
    // A level while no stream is open (S_FALSE) is dropped; the sample goes on all the same.
    return s_Listener.PostLevel(level) == E_UNEXPECTED ? E_UNEXPECTED : S_OK;
}

namespace JNI {

void DeliverMediaEvent(SListener& listener, long code, LONG_PTR param1, LONG_PTR param2, LONG stream)
{
    HRESULT hr = S_OK;
    // A code the table does not know is traced as "(null)", as the runtime prints a null string.
    CNativeFrame frame("callback_MediaEvent", &hr, CNativeFrame::WithoutLock, L"%d = %s", static_cast<int>(code),
                       MediaEventName(code));
    SEndCause cause;
    cause.code = code;
    cause.stream = stream;
    jint stopped = 0;
    switch (code) {
    case EC_COMPLETE:
    case EC_STREAM_CONTROL_STOPPED:
        stopped = 0;
        break;
    case EC_DEVICE_LOST:
        // The second parameter is 1 when the device came back: nothing has ended.
        if (param2 != 0) {
            s_MainLog.Print(L"device available again…");
            return;
        }
        stopped = 1;
        break;
    case EC_ERRORABORT:
    case EC_STREAM_ERROR_STOPPED:
        // A streaming error has stopped the data: nothing is recorded or played any more, which Java
        // hears as an abnormal end. The first parameter is the error.
        s_MainLog.Print(L"aborted by a streaming error 0x%08X…", static_cast<unsigned>(param1));
        cause.result = static_cast<HRESULT>(param1);
        stopped = 1;
        break;
    default:
        return;
    }
    s_Listener.SetEndCause(cause);
    s_MainLog.Print(L"call Java…");
    hr = listener.stopped.Call(stopped);
    s_MainLog.Print(L"call done.");
}

void DeliverLevel(SListener& listener, double level)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("VolumeMeter_Callback", &hr, CNativeFrame::WithoutLock, L"%f", level);
    hr = listener.inputLevel.Call(static_cast<jdouble>(level));
}

} // namespace JNI
