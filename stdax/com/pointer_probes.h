#pragma once
// The probes that the library's COM methods run on the pointers they are given, before they touch
// them. A pointer that fails a probe gets E_POINTER from the method.
#include <windows.h>
#include <unknwn.h>

namespace COM {

// An out-parameter for one pointer (ppv of QueryInterface, ppEnum of EnumPins ...): null, or not
// readable and writable over one pointer.
template <class T>
bool IsBadOutPointer(T** pp)
{
    return pp == nullptr || ::IsBadReadPtr(pp, sizeof(*pp)) || ::IsBadWritePtr(pp, sizeof(*pp));
}

// An array of count pointers to fill: null, not readable and writable over all of it, or a count
// whose size does not fit the address space.
template <class T>
bool IsBadPointerArray(T** array, ULONG count)
{
    const ULONGLONG bytes = static_cast<ULONGLONG>(sizeof(*array)) * count;
    if (array == nullptr || bytes > MAXLONG)
        return true;
    return ::IsBadReadPtr(array, static_cast<UINT_PTR>(bytes)) || ::IsBadWritePtr(array, static_cast<UINT_PTR>(bytes));
}

// An interface to call: null, or its table pointer cannot be read.
inline bool IsBadInterface(IUnknown* unknown)
{
    return unknown == nullptr || ::IsBadReadPtr(unknown, sizeof(void*));
}

} // namespace COM
