#pragma once
// Tessaro.dll loaded into the test program as a Java virtual machine would load it: LoadLibrary, then
// JNI_OnLoad with the in-process stand-in VM. The exports are called through their JNI signatures as
// javac -h declares them.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_Quillmar.h"
#include "com_tarvik_kelvane_audio_QuillmarBinding.h"

#include "jvm/java_vm.h"
#include "platform/trace_reader/trace_reader.h"

#include <functional>
#include <memory>
#include <string>

class CLoadedLibrary {
public:
    // Loads the library with the current directory as the place of its logs (removing old logs first)
    // and calls JNI_OnLoad.
    CLoadedLibrary();
    // binding: the Java object is of the package's binding class (with "StreamFormat"/"StreamData").
    explicit CLoadedLibrary(bool binding);
    // Unloads the library if it is still loaded.
    ~CLoadedLibrary();

    // Unloads the library (its static objects are destroyed, the logs closed) and reads a log back.
    void Unload();
    static TestTrace::Log ReadMainLog() { return TestTrace::ReadLog(L"Tessaro.log"); }
    static TestTrace::Log ReadEncoderLog() { return TestTrace::ReadLog(L"MPEG2AudioEncoder.log"); }

    bool Loaded() const { return m_module != nullptr; }
    TestJvm::CJavaVm& Jvm() { return *m_jvm; }
    JNIEnv* Env() { return m_jvm->Env(); }
    jobject Java() { return m_java; }
    jint OnLoadResult() const { return m_onLoadResult; }

#define TESSARO_EXPORT(name) decltype(&::name) name = nullptr
    TESSARO_EXPORT(JNI_OnLoad);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_initLibrary);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_freeLibrary);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_getVersion);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_record);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_play);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_pause);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_stop);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_getDuration);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_getCurrentPosition);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_Quillmar_addBuffer);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_audio_QuillmarBinding_getEndCause);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamNumber);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_audio_QuillmarBinding_getInputDevices);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_audio_QuillmarBinding_recordFromDevice);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_audio_QuillmarBinding_getDroppedAudio);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_audio_QuillmarBinding_recordWithOptions);
    TESSARO_EXPORT(Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamLoss);
#undef TESSARO_EXPORT

    // The natives called as Java would call them, on the Quillmar object.
    jint InitLibrary() { return Java_com_tarvik_kelvane_Quillmar_initLibrary(Env(), m_java); }
    void FreeLibrary() { Java_com_tarvik_kelvane_Quillmar_freeLibrary(Env(), m_java); }
    jint GetVersion() { return Java_com_tarvik_kelvane_Quillmar_getVersion(Env(), m_java); }
    // getEndCause and getStreamNumber on the calling thread's environment (any attached thread).
    jint GetEndCause(jintArray cause)
    {
        return Java_com_tarvik_kelvane_audio_QuillmarBinding_getEndCause(m_jvm->Env(), m_java, cause);
    }
    jint GetStreamNumber(jintArray number)
    {
        return Java_com_tarvik_kelvane_audio_QuillmarBinding_getStreamNumber(m_jvm->Env(), m_java, number);
    }

private:
    std::unique_ptr<TestJvm::CJavaVm> m_jvm;
    jobject m_java = nullptr;
    HMODULE m_module = nullptr;
    jint m_onLoadResult = 0;
};

// A file in the test's working directory.
std::wstring WorkPath(const std::wstring& file);

// Polls the condition every 10 ms until it holds; false when it still does not after the time.
template <class Condition>
bool WaitFor(Condition condition, DWORD milliseconds = 15000)
{
    for (DWORD waited = 0; waited < milliseconds && !condition(); waited += 10)
        ::Sleep(10);
    return condition();
}

// Runs a call on a thread of its own, attached to the VM as another Java thread would be, for calls
// that may not return: the test waits for it with a bound.
class CJavaThread {
public:
    CJavaThread(TestJvm::CJavaVm& jvm, std::function<void(JNIEnv*)> call);
    // Closes the thread's handle if it has ended; one that hangs is left behind.
    ~CJavaThread();
    CJavaThread(const CJavaThread&) = delete;
    CJavaThread& operator=(const CJavaThread&) = delete;

    // Whether the call returned within the time.
    bool Join(DWORD milliseconds);

private:
    static DWORD WINAPI Routine(void* parameter);

    TestJvm::CJavaVm& m_jvm;
    std::function<void(JNIEnv*)> m_call;
    HANDLE m_thread = nullptr;
};

// The UTF-8 bytes of a wide string, as Java's String.getBytes(UTF_8) gives them.
std::string Utf8(const std::wstring& text);
