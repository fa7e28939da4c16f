#pragma once
#include <windows.h>

namespace Win32 {

// A system error number as a result code: 0 (no error recorded, yet the call failed) gives
// E_UNEXPECTED, a positive number e gives 0x8007xxxx with the low 16 bits of e, and a value that is
// already negative (a result code) is kept.
constexpr HRESULT ResultFromSystemError(LONG error)
{
    if (error == 0)
        return E_UNEXPECTED;
    if (error < 0)
        return error;
    return static_cast<HRESULT>(0x80070000UL | (static_cast<ULONG>(error) & 0xFFFFUL));
}

// The calling thread's last-error value as a result code (see ResultFromSystemError).
inline HRESULT ResultFromLastError()
{
    return ResultFromSystemError(static_cast<LONG>(::GetLastError()));
}

} // namespace Win32
