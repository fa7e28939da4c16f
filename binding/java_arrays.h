#pragma once
// Reading and writing the Java arrays that the transport natives take: a path as UTF-8 bytes, and
// one-element arrays through which Java reads a result back.
#include <windows.h>

#include <jni.h>

#include <string>

namespace JNI {

// Converts the UTF-8 bytes of the array (exactly its length; no terminator) to UTF-16. A zero-length
// array gives S_FALSE and an empty path; a NUL byte inside the path gives E_INVALIDARG; bytes that are
// not valid UTF-8 give 0x80070459 (ERROR_NO_UNICODE_TRANSLATION).
HRESULT ReadUtf8Path(JNIEnv* env, jbyteArray array, std::wstring& path);

// Whether a one-element write would succeed: E_INVALIDARG for a null array, 0x8007007A for an empty
// one, S_OK otherwise. Nothing is written.
HRESULT CheckFirstElement(JNIEnv* env, jbooleanArray array);

// Stores the value in element 0 (copied back to Java). An empty array gives 0x8007007A and stores
// nothing.
HRESULT WriteFirstElement(JNIEnv* env, jbooleanArray array, bool value);
HRESULT WriteFirstElement(JNIEnv* env, jdoubleArray array, double value);

// Stores the values in the first elements (copied back to Java). An array shorter than the values gives
// 0x8007007A and stores nothing.
HRESULT WriteElements(JNIEnv* env, jintArray array, const jint* values, jsize count);
HRESULT WriteElements(JNIEnv* env, jdoubleArray array, const jdouble* values, jsize count);

} // namespace JNI
