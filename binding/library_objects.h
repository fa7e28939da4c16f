#pragma once
// The library's static objects. They are built when the library is loaded, in the order of their
// definitions in library_objects.cpp, and destroyed in the reverse order when it is unloaded.
#include "binding/java_method.h"
#include "support/critical_section.h"
#include "support/library_logs.h"

// Serialises every Java-facing operation except getVersion and addBuffer.
extern Synchronization::CCriticalSection s_Lock;
// "Stopped" "(I)V" and "InputLevel" "(D)V" on the object that called initLibrary.
extern JNI::TMethodVoid s_Stopped;
extern JNI::TMethodVoid s_InputLevel;
