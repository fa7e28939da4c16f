#include "binding/java_arrays.h"

#include "binding/java_method.h"
#include "support/system_error.h"

#include <cstring>
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

template <>
struct TArrayAccess<jintArray, jint> {
    static jint* Get(JNIEnv* env, jintArray a) { return env->GetIntArrayElements(a, nullptr); }
    static void Release(JNIEnv* env, jintArray a, jint* e) { env->ReleaseIntArrayElements(a, e, 0); }
};

template <class Element, class Array>
HRESULT WriteLeading(JNIEnv* env, Array array, const Element* values, jsize count)
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
    if (env->GetArrayLength(array) >= count) {
        for (jsize index = 0; index < count; ++index)
            elements[index] = values[index];
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
        // A NUL would end the path early for every call that takes it as a string, and bytes that are
        // not UTF-8 would be replaced silently: both are refused.
        const bool hasNul = std::memchr(bytes, 0, static_cast<size_t>(length)) != nullptr;
        const int characters =
            hasNul ? 0
                   : ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                                           length, converted, length);
        if (hasNul) {
            hr = E_INVALIDARG;
        } else if (characters <= 0) {
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

HRESULT CheckFirstElement(JNIEnv* env, jbooleanArray array)
{
    if (env == nullptr)
        return E_UNEXPECTED;
    if (array == nullptr)
        return E_INVALIDARG;
    return env->GetArrayLength(array) >= 1 ? S_OK : kInsufficientBuffer;
}

HRESULT WriteFirstElement(JNIEnv* env, jbooleanArray array, bool value)
{
    const jboolean element = static_cast<jboolean>(value ? JNI_TRUE : JNI_FALSE);
    return WriteLeading<jboolean>(env, array, &element, 1);
}

HRESULT WriteFirstElement(JNIEnv* env, jdoubleArray array, double value)
{
    const jdouble element = value;
    return WriteLeading<jdouble>(env, array, &element, 1);
}

HRESULT WriteElements(JNIEnv* env, jintArray array, const jint* values, jsize count)
{
    return WriteLeading<jint>(env, array, values, count);
}

HRESULT WriteElements(JNIEnv* env, jdoubleArray array, const jdouble* values, jsize count)
{
    return WriteLeading<jdouble>(env, array, values, count);
}

} // namespace JNI
