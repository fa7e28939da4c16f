#pragma once
// The root of every COM object the library implements itself.
//
// Objects live in memory from the COM task allocator, so a failed allocation gives a null object
// instead of an exception: creators report that as E_OUTOFMEMORY. A process-wide count of live
// objects is kept for tests and leak checks; nothing in the library depends on its value.
#include <windows.h>

#include <cstddef>

namespace COM {

class CBaseObject {
public:
    CBaseObject();
    virtual ~CBaseObject();

    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    // CoTaskMemAlloc / CoTaskMemFree. noexcept: a null result makes the new-expression yield null
    // without running the constructor.
    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* memory) noexcept;
    static void* operator new[](std::size_t) = delete;
    static void operator delete[](void*) = delete;

    // Number of objects built on this class that exist right now in the process.
    static LONG LiveObjects();
};

} // namespace COM
