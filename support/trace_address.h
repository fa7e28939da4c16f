#pragma once
// How the trace logs print an address: "0x%08X" in the 32-bit library, the whole pointer
// ("0x%016I64X", 16 hex digits) in the 64-bit one.
//
//     scope.Begin(&hr, L"%d, " TRACE_ADDRESS, position, Win32::TraceAddress(pmt));
#include <windows.h>

#if defined(_WIN64)
#define TRACE_ADDRESS L"0x%016I64X"
#else
#define TRACE_ADDRESS L"0x%08X"
#endif

namespace Win32 {

#if defined(_WIN64)
using TraceAddressValue = unsigned long long;
#else
using TraceAddressValue = unsigned;
#endif

// The argument that goes with TRACE_ADDRESS.
inline TraceAddressValue TraceAddress(const void* pointer)
{
    return static_cast<TraceAddressValue>(reinterpret_cast<UINT_PTR>(pointer));
}

} // namespace Win32
