#include "binding/java_callbacks.h"

#include <dshow.h>

#include "binding/library_objects.h"
#include "binding/media_event_names.h"
#include "binding/native_frame.h"
#include "support/trace_log.h"

void callback_MediaEvent(long code, LONG_PTR /*param1*/, LONG_PTR /*param2*/)
{
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
    default:
        return;
    }
    s_MainLog.Print(L"call Java…");
    hr = s_Stopped.Call(stopped);
    s_MainLog.Print(L"call done.");
}

HRESULT VolumeMeter_Callback(double level)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("VolumeMeter_Callback", &hr, CNativeFrame::WithoutLock, L"%f", level);
    hr = s_InputLevel.Call(static_cast<jdouble>(level));
    return hr;
}
