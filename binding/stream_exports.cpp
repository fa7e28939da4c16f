// The natives that the Java package's binding class adds: why the last stream ended, and the number of
// the stream last started. Neither takes the library lock: both read what the listener delivery keeps
// under its own short lock, so they answer at once, also from inside "Stopped".
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_audio_QuillmarBinding.h"

#include "binding/java_arrays.h"
#include "binding/library_objects.h"
#include "binding/native_frame.h"
#include "support/trace_log.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_getEndCause(JNIEnv* env, jobject /*self*/,
                                                                                jintArray cause)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_getEndCause", &hr, CNativeFrame::WithoutLock);
    JNI::SEndCause end;
    const bool ended = s_Listener.EndCause(&end);
    const jint values[3] = {static_cast<jint>(end.code), static_cast<jint>(end.result), static_cast<jint>(end.stream)};
    hr = JNI::WriteElements(env, cause, values, 3);
    if (hr == S_OK && !ended)
        hr = S_FALSE;
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamNumber(JNIEnv* env, jobject /*self*/,
                                                                                    jintArray number)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamNumber", &hr,
                       CNativeFrame::WithoutLock);
    const jint stream = static_cast<jint>(s_Listener.StreamNumber());
    hr = JNI::WriteElements(env, number, &stream, 1);
    if (hr == S_OK && stream == 0)
        hr = S_FALSE;
    return hr;
}

} // extern "C"
