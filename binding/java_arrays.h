#pragma once
// Reading and writing the Java arrays that the transport natives take: a path as UTF-8 bytes, and
// one-element arrays through which Java reads a result back.
#include <windows.h>

#include <jni.h>

#include <string>

namespace JNI {

// Converts the UTF-8 bytes of the array (exactly its length; no terminator) to UTF-16. A zero-length
// array gives S_FALSE and an empty path.
HRESULT ReadUtf8Path(JNIEnv* env, jbyteArray array, std::wstring& path);

// Stores the value in element 0 (copied back to Java). An empty array gives 0x8007007A and stores
// nothing.
HRESULT WriteFirstElement(JNIEnv* env, jbooleanArray array, bool value);
HRESULT WriteFirstElement(JNIEnv* env, jdoubleArray array, double value);

} // namespace JNI
