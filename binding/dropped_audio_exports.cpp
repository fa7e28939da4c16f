// The native of the Java package's binding class that tells the audio the capture device lost: the
// gaps of the current recording (or of the last one once stopped) and the audio time they miss. A
// query under the library lock, as getDuration.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_audio_QuillmarBinding.h"

#include "binding/java_arrays.h"
#include "binding/library_objects.h"
#include "binding/native_frame.h"
#include "support/trace_log.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_getDroppedAudio(JNIEnv* env, jobject /*self*/,
                                                                                    jdoubleArray dropped)
{
    HRESULT hr = S_OK;
    // The begin line tells the room Java gave: the array's length, -1 for none.
    const jint length = env != nullptr && dropped != nullptr ? env->GetArrayLength(dropped) : -1;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_getDroppedAudio", &hr,
                       CNativeFrame::WithLibraryLock, L"%d", length);
    ULONG gaps = 0;
    REFERENCE_TIME missing = 0;
    const HRESULT read = s_CaptureGraph.GetDroppedAudio(&gaps, &missing);
    if (FAILED(read)) {
        hr = read;
        return hr;
    }
    s_MainLog.Print(L"dropped audio = %lu gaps, %.1f ms%ls.", gaps, static_cast<double>(missing) / 1e4,
                    read == S_FALSE ? L" (length unknown)" : L"");
    const jdouble values[2] = {static_cast<jdouble>(gaps), static_cast<jdouble>(missing) / 1e7};
    hr = JNI::WriteElements(env, dropped, values, 2);
    if (hr == S_OK)
        hr = read;
    return hr;
}

} // extern "C"
