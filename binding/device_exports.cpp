// The natives of the Java package's binding class that let the user choose the device: the lists of the
// audio input devices and of the audio renderers present now, and a recording from the input device
// chosen by its id. All run under the library lock, as record does.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_audio_QuillmarBinding.h"

#include "binding/java_arrays.h"
#include "binding/java_method.h"
#include "binding/library_objects.h"
#include "binding/native_frame.h"
#include "binding/recording_start.h"
#include "graph/device_list.h"
#include "support/step_sequence.h"
#include "support/trace_log.h"

#include <cstring>
#include <new>
#include <string>

namespace {

constexpr HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

bool HasControlCharacter(const std::wstring& text)
{
    for (const wchar_t c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

// Appends the UTF-8 form of the text. strict: text that is not valid UTF-16 is refused (an id must
// come back exactly as it went out); otherwise it is replaced by U+FFFD.
bool AppendUtf8(const std::wstring& text, bool strict, std::string& out)
{
    if (text.empty())
        return true;
    const DWORD flags = strict ? WC_ERR_INVALID_CHARS : 0;
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return false;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(bytes));
    return ::WideCharToMultiByte(CP_UTF8, flags, text.data(), length, &out[at], bytes, nullptr, nullptr) == bytes;
}

// The list as Java reads it: "id<TAB>name<LF>" per device, in the system's order. A control character
// of a name becomes a space; a device whose id holds one (or is not valid UTF-16) cannot be told back to
// the library and is left out.
HRESULT ListText(const DirectShow::CDeviceList& devices, const wchar_t* kind, std::string& text)
{
    try {
        unsigned number = 0;
        for (const DirectShow::CDevice& device : devices.Devices()) {
            ++number;
            std::wstring name = device.name;
            for (wchar_t& c : name) {
                if (c < 0x20 || c == 0x7F)
                    c = L' ';
            }
            std::string line;
            if (device.id.empty() || HasControlCharacter(device.id) || !AppendUtf8(device.id, true, line)) {
                s_MainLog.Print(L"%ls %u left out, its id cannot be passed on.", kind, number);
                continue;
            }
            line += '\t';
            AppendUtf8(name, false, line);
            line += '\n';
            text += line;
            s_MainLog.Print(L"%ls %u = \"%ls\", \"%ls\".", kind, number, name.c_str(), device.id.c_str());
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// Copies the text into the first bytes of the array (the rest is left as it is).
HRESULT WriteText(JNIEnv* env, jbyteArray list, const std::string& text)
{
    jbyte* elements = env->GetByteArrayElements(list, nullptr);
    if (elements == nullptr) {
        JNI::ClearPendingException(env); // OutOfMemoryError
        return E_FAIL;
    }
    std::memcpy(elements, text.data(), text.size());
    env->ReleaseByteArrayElements(list, elements, 0);
    return S_OK;
}

// The list of getInputDevices and getOutputDevices: "id TAB name LF" lines into list, the bytes needed
// into size[0]. capacity is the list array's length, -1 for none.
HRESULT ListDevices(JNIEnv* env, jbyteArray list, jint capacity, jintArray size, DirectShow::CDeviceList&& devices,
                    const wchar_t* kind)
{
    HRESULT hr = S_OK;
    std::string text;
    CStepSequence steps(hr);
    steps.Do([&] {
            if (env == nullptr)
                return E_UNEXPECTED;
            return size == nullptr || env->GetArrayLength(size) < 1 ? E_INVALIDARG : S_OK;
        })
        .Do([&] {
            s_MainLog.Print(L"read %lss…", kind);
            const HRESULT read = devices.Read();
            return FAILED(read) ? read : S_OK;
        })
        .Do([&] { return ListText(devices, kind, text); })
        .Do([&] {
            const jint needed = static_cast<jint>(text.size());
            return JNI::WriteElements(env, size, &needed, 1);
        })
        .Do([&] {
            if (text.empty())
                return S_FALSE;
            if (capacity < 0 || static_cast<size_t>(capacity) < text.size())
                return kInsufficientBuffer;
            return WriteText(env, list, text);
        });
    return hr;
}

} // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_getInputDevices(JNIEnv* env, jobject /*self*/,
                                                                                    jbyteArray list, jintArray size)
{
    HRESULT hr = S_OK;
    // The begin line tells the room Java gave: the list array's length, -1 for none.
    const jint capacity = env != nullptr && list != nullptr ? env->GetArrayLength(list) : -1;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_getInputDevices", &hr,
                       CNativeFrame::WithLibraryLock, L"%d", capacity);
    hr = ListDevices(env, list, capacity, size, DirectShow::CInputDeviceList(), L"input device");
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_getOutputDevices(JNIEnv* env, jobject /*self*/,
                                                                                     jbyteArray list, jintArray size)
{
    HRESULT hr = S_OK;
    const jint capacity = env != nullptr && list != nullptr ? env->GetArrayLength(list) : -1;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_getOutputDevices", &hr,
                       CNativeFrame::WithLibraryLock, L"%d", capacity);
    hr = ListDevices(env, list, capacity, size, DirectShow::COutputDeviceList(), L"output device");
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_audio_QuillmarBinding_recordFromDevice(JNIEnv* env, jobject /*self*/,
                                                                                     jbyteArray deviceIdBytes,
                                                                                     jbyteArray pathBytes,
                                                                                     jint formatTag, jint sampleRate,
                                                                                     jint bitRate)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_audio_QuillmarBinding_recordFromDevice", &hr,
                       CNativeFrame::WithLibraryLockForChange, L"%d, %d, %d", formatTag, sampleRate, bitRate);
    std::wstring deviceId;
    CStepSequence steps(hr);
    steps.Do([&] {
            s_MainLog.Print(L"get device id…");
            // The id's bytes follow the path's rules: UTF-8, no NUL; an empty id names no device.
            const HRESULT read = JNI::ReadUtf8Path(env, deviceIdBytes, deviceId);
            return read == S_FALSE ? E_INVALIDARG : read;
        })
        .Do([&] {
            s_MainLog.Print(L"device id = \"%ls\".", deviceId.c_str());
            return StartRecording(env, pathBytes, formatTag, sampleRate, bitRate, deviceId.c_str());
        });
    return hr;
}

} // extern "C"
