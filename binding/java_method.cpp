#include "binding/java_method.h"

#include <cstdarg>

namespace JNI {

HRESULT TMethodBase::GetEnvironment(JNIEnv** env, bool* attached)
{
    if (env == nullptr || ::IsBadWritePtr(env, sizeof(*env)) || attached == nullptr)
        return E_POINTER;
    *env = nullptr;
    *attached = false;
    if (s_JavaVM == nullptr)
        return E_UNEXPECTED;
    if (s_JavaVM->GetEnv(reinterpret_cast<void**>(env), JNI_VERSION_1_4) == JNI_EDETACHED) {
        *env = nullptr;
        if (s_JavaVM->AttachCurrentThread(reinterpret_cast<void**>(env), nullptr) != JNI_OK)
            return E_FAIL;
        *attached = true;
    }
    return *env != nullptr ? S_OK : E_FAIL;
}

void TMethodBase::ReleaseEnvironment(bool attached)
{
    if (attached)
        s_JavaVM->DetachCurrentThread();
}

HRESULT AttachThreadForLife(const char* name)
{
    if (s_JavaVM == nullptr)
        return E_UNEXPECTED;
    JNIEnv* env = nullptr;
    if (s_JavaVM->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_4) == JNI_OK)
        return S_FALSE;
    JavaVMAttachArgs args;
    args.version = JNI_VERSION_1_4;
    args.name = const_cast<char*>(name);
    args.group = nullptr;
    env = nullptr;
    if (s_JavaVM->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &args) != JNI_OK || env == nullptr)
        return E_FAIL;
    return S_OK;
}

HRESULT DetachThread()
{
    if (s_JavaVM == nullptr)
        return E_UNEXPECTED;
    return s_JavaVM->DetachCurrentThread() == JNI_OK ? S_OK : E_FAIL;
}

void ClearPendingException(JNIEnv* env)
{
    if (env != nullptr && env->ExceptionCheck())
        env->ExceptionClear();
}

TMethod::~TMethod()
{
    Unbind();
}

HRESULT TMethod::Bind(JNIEnv* env, jobject object, const char* name, const char* signature)
{
    if (env == nullptr)
        return E_UNEXPECTED;
    if (object == nullptr)
        return E_INVALIDARG;
    // The class reference is a local reference that the virtual machine frees when the native call returns.
    // A failed lookup leaves an exception (NoSuchMethodError, OutOfMemoryError) pending: the result
    // code, not the exception, is what reaches Java.
    jclass objectClass = env->GetObjectClass(object);
    if (objectClass == nullptr) {
        ClearPendingException(env);
        return E_ABORT;
    }
    m_method = env->GetMethodID(objectClass, name, signature);
    if (m_method == nullptr) {
        ClearPendingException(env);
        return E_ABORT;
    }
    m_object = env->NewGlobalRef(object);
    if (m_object == nullptr) {
        ClearPendingException(env);
        return E_ABORT;
    }
    m_exceptionDescribed = 0;
    return S_OK;
}

HRESULT TMethod::Unbind()
{
    if (m_object == nullptr)
        return S_FALSE;
    JNIEnv* env = nullptr;
    bool attached = false;
    const HRESULT hr = GetEnvironment(&env, &attached);
    if (FAILED(hr))
        return hr;
    env->DeleteGlobalRef(m_object);
    m_object = nullptr;
    m_method = nullptr;
    ReleaseEnvironment(attached);
    return S_OK;
}

HRESULT TMethodVoid::CallWithList(bool* threw, ...)
{
    *threw = false;
    if (m_method == nullptr)
        return E_UNEXPECTED;
    if (m_object == nullptr)
        return E_ABORT;
    JNIEnv* env = nullptr;
    bool attached = false;
    const HRESULT hr = GetEnvironment(&env, &attached);
    if (FAILED(hr))
        return hr;
    va_list args;
    va_start(args, threw);
    env->CallVoidMethodV(m_object, m_method, args);
    va_end(args);
    // Nobody on the Java side can catch an exception thrown into a native callback thread, and one
    // left pending would break the next JNI call on this thread: drop it here, describing only the
    // binding's first one (a listener called 25 times a second would otherwise flood the output).
    HRESULT result = S_OK;
    if (env->ExceptionCheck()) {
        if (::InterlockedExchange(&m_exceptionDescribed, 1) == 0)
            env->ExceptionDescribe();
        env->ExceptionClear();
        *threw = true;
        result = E_FAIL;
    }
    ReleaseEnvironment(attached);
    return result;
}

} // namespace JNI
