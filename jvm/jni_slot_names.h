// Slot counts and slot names of the two JNI function tables.
#pragma once

#include <jni.h>

#include <cstddef>

namespace TestJvm {

// Both tables consist of pointer-sized slots only (reserved ones included).
static_assert(sizeof(JNINativeInterface_) % sizeof(void*) == 0, "JNINativeInterface_ is a table of pointers");
static_assert(sizeof(JNIInvokeInterface_) % sizeof(void*) == 0, "JNIInvokeInterface_ is a table of pointers");
inline constexpr std::size_t kNativeSlotCount = sizeof(JNINativeInterface_) / sizeof(void*);
inline constexpr std::size_t kInvokeSlotCount = sizeof(JNIInvokeInterface_) / sizeof(void*);

const char* NativeSlotName(std::size_t index);
const char* InvokeSlotName(std::size_t index);

}  // namespace TestJvm
