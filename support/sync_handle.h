#pragma once
// A kernel object handle that can be waited on.
#include <windows.h>

#include "support/handle.h"

namespace Synchronization {

class CHandle : public Win32::CHandle<HANDLE, 0> {
public:
    // S_OK when the object is signalled, S_FALSE on time-out, the mapped last error when the wait
    // fails, E_UNEXPECTED for any other outcome (an abandoned mutex).
    HRESULT Wait(DWORD milliseconds) const;
    // Wait(0): S_OK when signalled (a thread: ended), S_FALSE when not yet.
    HRESULT Test() const;
};

} // namespace Synchronization
