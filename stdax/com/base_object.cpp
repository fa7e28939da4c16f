#include "stdax/com/base_object.h"

#include <objbase.h>

namespace COM {

namespace {

volatile LONG s_liveObjects = 0;

} // namespace

CBaseObject::CBaseObject()
{
    ::InterlockedIncrement(&s_liveObjects);
}

CBaseObject::~CBaseObject()
{
    ::InterlockedDecrement(&s_liveObjects);
}

void* CBaseObject::operator new(std::size_t size) noexcept
{
    return ::CoTaskMemAlloc(size);
}

void CBaseObject::operator delete(void* memory) noexcept
{
    ::CoTaskMemFree(memory);
}

LONG CBaseObject::LiveObjects()
{
    return ::InterlockedCompareExchange(&s_liveObjects, 0, 0);
}

} // namespace COM
