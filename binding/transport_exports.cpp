// The transport natives: record, play, pause, stop, getDuration, getCurrentPosition and addBuffer.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_Quillmar.h"

#include "binding/java_arrays.h"
#include "binding/library_objects.h"
#include "binding/native_frame.h"
#include "support/step_sequence.h"
#include "support/trace_log.h"

#include <string>

namespace {

// Reads the path of record or play and writes it to the main log; an empty path is refused.
HRESULT ReadPathArgument(JNIEnv* env, jbyteArray pathBytes, const wchar_t* pathLineFormat, std::wstring& path)
{
    HRESULT hr = S_OK;
    CStepSequence steps(hr);
    steps.Do([&] {
            s_MainLog.Print(L"get file path…");
            return JNI::ReadUtf8Path(env, pathBytes, path);
        })
        .Do([&] {
            s_MainLog.Print(pathLineFormat, path.c_str());
            return path.empty() ? E_INVALIDARG : S_OK;
        });
    return hr;
}

// The graph that a control method acts on: the recording while one is held, otherwise the playback.
// No graph can be built by this version of the library yet, so there is none.
HRESULT ChooseGraph()
{
    return E_UNEXPECTED;
}

} // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_record(JNIEnv* env, jobject /*self*/, jbyteArray pathBytes,
                                                              jint formatTag, jint sampleRate, jint bitRate)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_record", &hr, CNativeFrame::WithLibraryLock,
                       L"%d, %d, %d", formatTag, sampleRate, bitRate);
    std::wstring path;
    CStepSequence steps(hr);
    steps.Do([&] { return ReadPathArgument(env, pathBytes, L"file path = \"%ls\".", path); })
        .Do([] { return E_NOTIMPL; });  // the capture graph is not part of this version yet
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_play(JNIEnv* env, jobject /*self*/, jbyteArray pathBytes,
                                                            jint number)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_play", &hr, CNativeFrame::WithLibraryLock, L"%d", number);
    std::wstring path;
    CStepSequence steps(hr);
    steps.Do([&] { return ReadPathArgument(env, pathBytes, L"FilePath = \"%ls\".", path); })
        .Do([] { return E_NOTIMPL; });  // the playback graph is not part of this version yet
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_pause(JNIEnv* /*env*/, jobject /*self*/,
                                                             jbooleanArray /*paused*/)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_pause", &hr, CNativeFrame::WithLibraryLock);
    hr = ChooseGraph();
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_stop(JNIEnv* /*env*/, jobject /*self*/)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_stop", &hr, CNativeFrame::WithLibraryLock);
    hr = ChooseGraph();
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_getDuration(JNIEnv* /*env*/, jobject /*self*/,
                                                                   jdoubleArray /*seconds*/)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_getDuration", &hr, CNativeFrame::WithLibraryLock);
    hr = ChooseGraph();
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(JNIEnv* /*env*/, jobject /*self*/,
                                                                          jdoubleArray /*seconds*/)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_getCurrentPosition", &hr, CNativeFrame::WithLibraryLock);
    hr = ChooseGraph();
    return hr;
}

// Inactive: traces its two scalar arguments and succeeds; the data array is not read.
JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_addBuffer(JNIEnv* /*env*/, jobject /*self*/,
                                                                 jbyteArray /*data*/, jint value, jboolean flag)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_addBuffer", &hr, CNativeFrame::WithoutLock, L"%d, %d",
                       value, flag ? 1 : 0);
    return hr;
}

} // extern "C"
