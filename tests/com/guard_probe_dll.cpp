// Runs guarded calls from inside a DLL, for structured_exception_guard_test.
#include "support/structured_exception_guard.h"

#include <windows.h>

namespace {
volatile int* volatile s_nowhere = nullptr; // null, but the compiler cannot know it
} // namespace

extern "C" __declspec(dllexport) HRESULT GuardedFaultInModule(int faults)
{
    HRESULT last = S_OK;
    for (int i = 0; i < faults; ++i) {
        last = Win32::RunGuarded([] { *s_nowhere = 1; });
        if (last != E_ABORT)
            return last;
    }
    return last;
}
