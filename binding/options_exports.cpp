// The natives of the Java package's binding class for a recording with options: recordWithOptions
// (channels, variable bit rate, a file or none, the recorded bytes delivered to Java) on record's own
// road, and getStreamLoss, what the stream of a streamed recording dropped.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_audio_QuillmarBinding.h"

#include "binding/java_arrays.h"
#include "binding/java_method.h"
#include "binding/library_objects.h"
#include "binding/native_frame.h"
#include "binding/recording_start.h"
#include "support/step_sequence.h"
#include "support/trace_log.h"

#include <string>
#include <vector>

namespace {

constexpr jsize kOptionCount = 6;
constexpr jint kStreamFlag = 1;
constexpr HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

// The options array's elements (at least kOptionCount); empty for null.
std::vector<jint> ReadOptions(JNIEnv* env, jintArray options)
{
    std::vector<jint> values;
    if (env == nullptr || options == nullptr)
        return values;
    const jsize length = env->GetArrayLength(options);
    if (length <= 0)
        return values;
    jint* elements = env->GetIntArrayElements(options, nullptr);
    if (elements == nullptr) {
        JNI::ClearPendingException(env);  // OutOfMemoryError: read as no options
        return values;
    }
    values.assign(elements, elements + length);
    env->ReleaseIntArrayElements(options, elements, JNI_ABORT);
    return values;
}

// The record the options array describes; E_INVALIDARG for values it cannot have.
HRESULT ParseOptions(const std::vector<jint>& values, bool haveFile, CaptureOptions& options)
{
    if (values.size() < static_cast<size_t>(kOptionCount))
        return E_INVALIDARG;
    for (size_t later = kOptionCount; later < values.size(); ++later) {
        if (values[later] != 0)
            return E_INVALIDARG;
    }
    options.formatTag = values[0];
    options.sampleRate = values[1];
    options.channels = values[2];
    options.bitRate = values[3];
    options.vbrQuality = values[4];
    const jint flags = values[5];
    if (options.channels != 1 && options.channels != 2)
        return E_INVALIDARG;
    if (options.vbrQuality < -1 || options.vbrQuality > 9 || (!options.IsMp3() && options.vbrQuality != -1))
        return E_INVALIDARG;
    if ((flags & ~kStreamFlag) != 0)
        return E_INVALIDARG;
    if ((flags & kStreamFlag) != 0)
        options.tap = &s_Stream;
    // A recording must go somewhere.
    return haveFile || options.tap != nullptr ? S_OK : E_INVALIDARG;
}

} // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions(JNIEnv* env,
                                                                                      jobject /*self*/,
                                                                                      jbyteArray deviceIdBytes,
                                                                                      jbyteArray pathBytes,
                                                                                      jintArray optionArray)
{
    HRESULT hr = S_OK;
    // The begin line tells the options as Java gave them: the six, or how many there were.
    const std::vector<jint> values = ReadOptions(env, optionArray);
    const jint at[6] = {values.size() > 0 ? values[0] : 0, values.size() > 1 ? values[1] : 0,
                        values.size() > 2 ? values[2] : 0, values.size() > 3 ? values[3] : 0,
                        values.size() > 4 ? values[4] : 0, values.size() > 5 ? values[5] : 0};
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions", &hr,
                       CNativeFrame::WithLibraryLockForChange, L"%ls, %ls, %d: %d, %d, %d, %d, %d, %d",
                       deviceIdBytes != nullptr ? L"device" : L"default", pathBytes != nullptr ? L"file" : L"no file",
                       static_cast<int>(values.size()), at[0], at[1], at[2], at[3], at[4], at[5]);
    CaptureOptions options;
    std::wstring deviceId;
    CStepSequence steps(hr);
    steps.Do([&] { return env == nullptr ? E_UNEXPECTED : ParseOptions(values, pathBytes != nullptr, options); })
        .Do([&] { return options.tap != nullptr && !s_Listener.HasStreamMethods() ? E_NOINTERFACE : S_OK; })
        .Do([&] {
            if (deviceIdBytes == nullptr)
                return S_OK;
            s_MainLog.Print(L"get device id…");
            const HRESULT read = JNI::ReadUtf8Path(env, deviceIdBytes, deviceId);
            if (SUCCEEDED(read))
                s_MainLog.Print(L"device id = \"%ls\".", deviceId.c_str());
            return read == S_FALSE ? E_INVALIDARG : read;
        })
        .Do([&] { return StartRecording(env, pathBytes, options, deviceIdBytes != nullptr ? deviceId.c_str() : nullptr); });
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamLoss(JNIEnv* env, jobject /*self*/,
                                                                                  jdoubleArray loss)
{
    HRESULT hr = S_OK;
    // The begin line tells the room Java gave: the array's length, -1 for none.
    const jint length = env != nullptr && loss != nullptr ? env->GetArrayLength(loss) : -1;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamLoss", &hr,
                       CNativeFrame::WithLibraryLock, L"%d", length);
    if (length < 0)
        return hr = E_INVALIDARG;
    if (length < 3)
        return hr = kInsufficientBuffer;
    const JNI::CStreamDelivery::SLoss lost = s_Stream.Loss();
    s_MainLog.Print(L"stream loss = %.0f chunks, %.0f bytes, %.3f s.", lost.chunks, lost.bytes, lost.seconds);
    const jdouble values[3] = {lost.chunks, lost.bytes, lost.seconds};
    hr = JNI::WriteElements(env, loss, values, 3);
    return hr;
}

} // extern "C"
