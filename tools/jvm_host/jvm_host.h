// The in-process Java virtual machine (jvm/java_vm.h) as quillmar.exe uses it: one object of the Java
// package's binding class (a com.tarvik.kelvane.Quillmar) whose "Stopped" "(I)V", "InputLevel" "(D)V",
// "StreamFormat" "([B)V" and "StreamData" "([B)V" calls reach an IQuillmarCallbacks on the calling
// (native) thread, and the arrays the natives take.
//
// Any JNI function the library is not supposed to call, and any misuse of a handle, ends the process
// with a message, so neither can pass silently. Thread-safe: the library calls in from several threads.
#pragma once

#include <windows.h>

#include <jni.h>

#include <memory>
#include <string>
#include <vector>

namespace JvmHost {

// Receives the library's calls into Java. Runs on the library's own threads (its event thread and
// the capture streaming thread) while the library holds its locks: return quickly, and never call back
// into the library from here.
class IQuillmarCallbacks {
public:
    virtual void Stopped(jint reason) = 0;
    virtual void InputLevel(jdouble level) = 0;
    // The format of a streamed recording (its WAVEFORMATEX), before its first data.
    virtual void StreamFormat(const std::string& waveFormat) { (void)waveFormat; }
    // A chunk of a streamed recording; `end` (a null array) after its last.
    virtual void StreamData(const std::string& bytes, bool end) { (void)bytes; (void)end; }

protected:
    ~IQuillmarCallbacks() = default;
};

class CJvmHost {
public:
    // Attaches the constructing thread, as the Java thread that loads the library is attached.
    explicit CJvmHost(IQuillmarCallbacks& callbacks);
    ~CJvmHost();
    CJvmHost(const CJvmHost&) = delete;
    CJvmHost& operator=(const CJvmHost&) = delete;

    JavaVM* Vm();
    // The calling thread's environment; null when the thread is not attached.
    JNIEnv* Env();
    // The Quillmar object on which the natives are called.
    jobject Quillmar();

    // Arrays owned by the host; they live until DeleteArray (which frees them) or the host's end.
    jbyteArray NewByteArray(const std::string& bytes);
    jbooleanArray NewBooleanArray(jsize length);
    jdoubleArray NewDoubleArray(jsize length);
    jintArray NewIntArray(jsize length);
    jintArray NewIntArray(const std::vector<jint>& values);
    jboolean BooleanAt(jbooleanArray array, jsize index) const;
    jdouble DoubleAt(jdoubleArray array, jsize index) const;
    jint IntAt(jintArray array, jsize index) const;
    std::string BytesOf(jbyteArray array) const;
    void DeleteArray(jarray array);

    // Global references the library holds right now.
    int GlobalRefs() const;

    struct CState;

private:
    std::unique_ptr<CState> m_state;
};

}  // namespace JvmHost
