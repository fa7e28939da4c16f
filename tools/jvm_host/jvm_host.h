// A small in-process Java virtual machine for programs that drive Tessaro.dll the way a Java application
// does, without a Java runtime: it hands the library a JavaVM and per-thread JNIEnv tables that implement
// the JNI functions the library uses (object class and method lookup, global references, void calls,
// byte/boolean/double array access, thread attach and detach, exception checks) over one object of
// class com.tarvik.kelvane.Quillmar. The library's calls of that object's "Stopped" "(I)V" and
// "InputLevel" "(D)V" reach an IQuillmarCallbacks on the calling (native) thread.
//
// Any other JNI function prints its slot number to stderr and ends the process, so a call the host
// does not implement cannot pass silently. Thread-safe: the library calls in from several threads.
#pragma once

#include <windows.h>

#include <jni.h>

#include <memory>
#include <string>

namespace JvmHost {

// Receives the library's calls into Java. Runs on the library's own threads (its event thread and
// the capture streaming thread) while the library holds its locks: return quickly, and never call back
// into the library from here.
class IQuillmarCallbacks {
public:
    virtual void Stopped(jint reason) = 0;
    virtual void InputLevel(jdouble level) = 0;

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

    // Arrays owned by the host; they live until DeleteArray or the host's end.
    jbyteArray NewByteArray(const std::string& bytes);
    jbooleanArray NewBooleanArray(jsize length);
    jdoubleArray NewDoubleArray(jsize length);
    jboolean BooleanAt(jbooleanArray array, jsize index) const;
    jdouble DoubleAt(jdoubleArray array, jsize index) const;
    void DeleteArray(jarray array);

    // Global references the library holds right now.
    int GlobalRefs() const;

    struct CState;

private:
    std::unique_ptr<CState> m_state;
};

}  // namespace JvmHost
