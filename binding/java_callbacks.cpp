#include "binding/java_callbacks.h"

#include <dshow.h>

#include "binding/callback_thread.h"
#include "binding/library_objects.h"
#include "binding/media_event_names.h"
#include "binding/native_frame.h"
#include "support/trace_log.h"

void callback_MediaEvent(long code, LONG_PTR param1, LONG_PTR /*param2*/)
{
    JNI::CCallbackScope inside(JNI::ECallback::Stopped);
    HRESULT hr = S_OK;
    // A code the table does not know is traced as "(null)", as the runtime prints a null string.
    CNativeFrame frame("callback_MediaEvent", &hr, CNativeFrame::WithoutLock, L"%d = %s", static_cast<int>(code),
                       JNI::MediaEventName(code));
    jint stopped = 0;
    switch (code) {
    case EC_COMPLETE:
    case EC_STREAM_CONTROL_STOPPED:
        stopped = 0;
        break;
    case EC_DEVICE_LOST:
        stopped = 1;
        break;
    case EC_ERRORABORT:
    case EC_STREAM_ERROR_STOPPED:
        // A streaming error has stopped the data: nothing is recorded or played any more, which Java
        // hears as an abnormal end. The first parameter is the error.
        s_MainLog.Print(L"aborted by a streaming error 0x%08X…", static_cast<unsigned>(param1));
        stopped = 1;
        break;
    default:
        return;
    }
    s_MainLog.Print(L"call Java…");
    hr = s_Stopped.Call(stopped);
    s_MainLog.Print(L"call done.");
}

HRESULT VolumeMeter_Callback(double level)
{
    JNI::CCallbackScope inside(JNI::ECallback::InputLevel);
    HRESULT hr = S_OK;
    CNativeFrame frame("VolumeMeter_Callback", &hr, CNativeFrame::WithoutLock, L"%f", level);
    bool threw = false;
    hr = s_InputLevel.CallNoting(&threw, static_cast<jdouble>(level));
    // An exception of the listener is its own bug: the trace shows the failed call, but the sample it
    // measured goes on through the recording.
    return threw ? S_OK : hr;
}
