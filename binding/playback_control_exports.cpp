// The natives of the Java package's binding class that control a playback beyond pause and stop: seek,
// volume and balance, and the start of a playback on a chosen audio renderer. Each acts on the playback
// graph only: with nothing held, or while a recording is held, they refuse with VFW_E_WRONG_STATE and
// change nothing.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_audio_QuillmarBinding.h"

#include "binding/java_arrays.h"
#include "binding/library_objects.h"
#include "binding/native_frame.h"
#include "binding/playback_start.h"
#include "graph/basic_audio.h"
#include "support/step_sequence.h"
#include "support/trace_log.h"

#include <cmath>
#include <string>

namespace {

// Runs the step on the playback graph; VFW_E_WRONG_STATE when none is held or a recording is.
template <class Step>
HRESULT OnPlaybackGraph(Step&& step)
{
    if (s_CaptureGraph.IsValid() || !s_PlaybackGraph.IsValid())
        return VFW_E_WRONG_STATE;
    return step(static_cast<DirectShow::CFilterGraph&>(s_PlaybackGraph));
}

// Seconds from Java as a time of the seeking interface (100-ns units); E_INVALIDARG for a negative
// time, NaN, or one beyond what the interface can hold.
HRESULT SeekTime(double seconds, LONGLONG* time)
{
    if (!(seconds >= 0.0) || !(seconds < 9.0e11))
        return E_INVALIDARG;
    *time = std::llround(seconds * 10000000.0);
    return S_OK;
}

// Sets the volume or balance through the graph's IBasicAudio.
HRESULT SetAudio(HRESULT (DirectShow::CBasicAudio::*set)(long), long value)
{
    return OnPlaybackGraph([&](DirectShow::CFilterGraph& graph) {
        DirectShow::CBasicAudio audio;
        HRESULT hr = S_OK;
        CStepSequence(hr).Do([&] { return audio.Attach(graph); }).Do([&] { return (audio.*set)(value); });
        return hr;
    });
}

// Reads the volume or balance through the graph's IBasicAudio into element 0 of the array.
HRESULT GetAudio(JNIEnv* env, jintArray array, HRESULT (DirectShow::CBasicAudio::*get)(long*), const wchar_t* line)
{
    return OnPlaybackGraph([&](DirectShow::CFilterGraph& graph) {
        DirectShow::CBasicAudio audio;
        long value = 0;
        HRESULT hr = S_OK;
        CStepSequence(hr)
            .Do([&] { return audio.Attach(graph); })
            .Do([&] { return (audio.*get)(&value); })
            .Do([&] {
                s_MainLog.Print(line, value);
                const jint element = static_cast<jint>(value);
                return JNI::WriteElements(env, array, &element, 1);
            });
        return hr;
    });
}

} // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_setPosition(JNIEnv* /*env*/, jobject /*self*/,
                                                                                jdouble seconds)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_setPosition", &hr,
                       CNativeFrame::WithLibraryLockForChange, L"%.3f", seconds);
    hr = OnPlaybackGraph([&](DirectShow::CFilterGraph& graph) {
        LONGLONG time = 0;
        HRESULT result = S_OK;
        CStepSequence(result)
            .Do([&] { return SeekTime(seconds, &time); })
            .Do([&] {
                s_MainLog.Print(L"seek FilterGraph…");
                return s_PlaybackGraph.Transport().Seek(graph, time);
            });
        return result;
    });
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_setVolume(JNIEnv* /*env*/, jobject /*self*/,
                                                                              jint volume)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_setVolume", &hr,
                       CNativeFrame::WithLibraryLockForChange, L"%d", volume);
    hr = SetAudio(&DirectShow::CBasicAudio::SetVolume, volume);
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_getVolume(JNIEnv* env, jobject /*self*/,
                                                                              jintArray volume)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_getVolume", &hr,
                       CNativeFrame::WithLibraryLock);
    hr = GetAudio(env, volume, &DirectShow::CBasicAudio::GetVolume, L"volume = %ld.");
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_setBalance(JNIEnv* /*env*/, jobject /*self*/,
                                                                               jint balance)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_setBalance", &hr,
                       CNativeFrame::WithLibraryLockForChange, L"%d", balance);
    hr = SetAudio(&DirectShow::CBasicAudio::SetBalance, balance);
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_getBalance(JNIEnv* env, jobject /*self*/,
                                                                               jintArray balance)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_getBalance", &hr,
                       CNativeFrame::WithLibraryLock);
    hr = GetAudio(env, balance, &DirectShow::CBasicAudio::GetBalance, L"balance = %ld.");
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_playOnDevice(JNIEnv* env, jobject /*self*/,
                                                                                 jbyteArray deviceIdBytes,
                                                                                 jbyteArray pathBytes, jint number)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_playOnDevice", &hr,
                       CNativeFrame::WithLibraryLockForChange, L"%d", number);
    std::wstring deviceId;
    CStepSequence steps(hr);
    steps.Do([&] {
            if (deviceIdBytes == nullptr)
                return S_OK;  // the default renderer, as play
            s_MainLog.Print(L"get device id…");
            // The id's bytes follow the path's rules: UTF-8, no NUL; an empty id names no device.
            const HRESULT read = JNI::ReadUtf8Path(env, deviceIdBytes, deviceId);
            return read == S_FALSE ? E_INVALIDARG : read;
        })
        .Do([&] {
            if (deviceIdBytes == nullptr)
                return StartPlayback(env, pathBytes, number, nullptr);
            s_MainLog.Print(L"device id = \"%ls\".", deviceId.c_str());
            return StartPlayback(env, pathBytes, number, deviceId.c_str());
        });
    return hr;
}

} // extern "C"
