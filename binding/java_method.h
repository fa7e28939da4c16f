#pragma once
// A Java method bound once (method id plus a global reference to the object it is called on) and
// called from any native thread. A library thread that calls Java attaches itself once
// (AttachThreadForLife) and detaches when it ends; a thread that is not attached at a call (a failed
// attach) is attached for the one call and detached again afterwards; a thread that was attached
// before stays attached.
#include <windows.h>

#include <jni.h>

// The virtual machine that loaded the library (set by JNI_OnLoad, never cleared).
extern JavaVM* s_JavaVM;

namespace JNI {

// Drops an exception pending on the thread, so that a result code reaches Java instead.
void ClearPendingException(JNIEnv* env);

// Attaches the calling thread to the virtual machine until DetachThread, as a daemon thread (it never
// keeps the virtual machine alive) with the given name. S_OK when this call attached it, S_FALSE when
// it was attached already (it stays as it was), E_UNEXPECTED without a virtual machine, E_FAIL when the
// virtual machine refused.
HRESULT AttachThreadForLife(const char* name);
// Detaches the calling thread that AttachThreadForLife attached (S_OK); it must hold no Java reference
// of its own any more and call no Java afterwards.
HRESULT DetachThread();

class TMethodBase {
protected:
    // The calling thread's environment, attaching the thread if it is not attached yet; *attached
    // tells whether this call attached it (the caller then detaches it with ReleaseEnvironment).
    static HRESULT GetEnvironment(JNIEnv** env, bool* attached);
    static void ReleaseEnvironment(bool attached);
};

class TMethod : public TMethodBase {
public:
    TMethod() = default;
    virtual ~TMethod();
    TMethod(const TMethod&) = delete;
    TMethod& operator=(const TMethod&) = delete;

    // Looks the method up on the object's class and keeps a global reference to the object. A second
    // Bind overwrites the first binding.
    HRESULT Bind(JNIEnv* env, jobject object, const char* name, const char* signature);
    // Drops the global reference; S_FALSE when nothing is bound.
    HRESULT Unbind();

    bool IsBound() const { return m_object != nullptr; }

protected:
    jmethodID m_method = nullptr;
    jobject m_object = nullptr;
    volatile LONG m_exceptionDescribed = 0;  // the binding's first exception has been described
};

class TMethodVoid : public TMethod {
public:
    // Calls the bound void method with the arguments of its Java signature (one jint for "(I)V", one
    // jdouble for "(D)V"). An exception thrown by the method is cleared (the binding's first one is
    // described), and the call then returns E_FAIL.
    template <class... Args>
    HRESULT Call(Args... args)
    {
        bool threw = false;
        return CallWithList(&threw, args...);
    }
    // As Call; *threw tells whether the failure was an exception thrown by the Java method.
    template <class... Args>
    HRESULT CallNoting(bool* threw, Args... args)
    {
        return CallWithList(threw, args...);
    }

private:
    HRESULT CallWithList(bool* threw, ...);
};

} // namespace JNI
