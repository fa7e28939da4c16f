#include "binding/java_arrays.h"

#include "binding/java_method.h"
#include "support/system_error.h"

#include <new>

namespace JNI {
namespace {

constexpr HRESULT kInsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

// The element access of one Java array type, so that both one-element writers share their steps.
template <class Array, class Element>
struct TArrayAccess;

template <>
struct TArrayAccess<jbooleanArray, jboolean> {
    static jboolean* Get(JNIEnv* env, jbooleanArray a) { return env->GetBooleanArrayElements(a, nullptr); }
    static void Release(JNIEnv* env, jbooleanArray a, jboolean* e) { env->ReleaseBooleanArrayElements(a, e, 0); }
};

template <>
struct TArrayAccess<jdoubleArray, jdouble> {
    static jdouble* Get(JNIEnv* env, jdoubleArray a) { return env->GetDoubleArrayElements(a, nullptr); }
    static void Release(JNIEnv* env, jdoubleArray a, jdouble* e) { env->ReleaseDoubleArrayElements(a, e, 0); }
};

template <class Element, class Array>
HRESULT WriteFirst(JNIEnv* env, Array array, Element value)
{
    if (env == nullptr)
        return E_UNEXPECTED;
    if (array == nullptr)
        return E_INVALIDARG;
    using Access = TArrayAccess<Array, Element>;
    Element* elements = Access::Get(env, array);
    if (elements == nullptr) {
        ClearPendingException(env); // OutOfMemoryError
        return E_FAIL;
    }
    HRESULT hr = kInsufficientBuffer;
    if (env->GetArrayLength(array) >= 1) {
        elements[0] = value;
        hr = S_OK;
    }
    Access::Release(env, array, elements);
    return hr;
}

} // namespace

HRESULT ReadUtf8Path(JNIEnv* env, jbyteArray array, std::wstring& path)
{
    path.clear();
    if (env == nullptr)
        return E_UNEXPECTED;
    if (array == nullptr)
        return E_INVALIDARG;
    const jsize length = env->GetArrayLength(array);
    if (length <= 0)
        return S_FALSE;
    // UTF-8 never needs more UTF-16 units than it has bytes.
    wchar_t* converted = new (std::nothrow) wchar_t[length];
    if (converted == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = S_OK;
    jbyte* bytes = env->GetByteArrayElements(array, nullptr);
    if (bytes == nullptr) {
        ClearPendingException(env); // OutOfMemoryError
        hr = E_FAIL;
    } else {
        const int characters = ::MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(bytes), length,
                                                     converted, length);
        if (characters <= 0) {
            hr = Win32::ResultFromLastError();
        } else {
            try {
                path.assign(converted, characters);
            } catch (const std::bad_alloc&) {
                hr = E_OUTOFMEMORY;
            }
        }
        env->ReleaseByteArrayElements(array, bytes, 0);
    }
    delete[] converted;
    return hr;
}

HRESULT WriteFirstElement(JNIEnv* env, jbooleanArray array, bool value)
{
    return WriteFirst<jboolean>(env, array, static_cast<jboolean>(value ? JNI_TRUE : JNI_FALSE));
}

HRESULT WriteFirstElement(JNIEnv* env, jdoubleArray array, double value)
{
    return WriteFirst<jdouble>(env, array, value);
}

} // namespace JNI
