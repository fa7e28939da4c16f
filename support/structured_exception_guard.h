#pragma once
// Runs a call so that a hardware fault inside it (access violation, division by zero, illegal
// instruction ...) comes back as E_ABORT instead of ending the process. Used round every call
// into the MP3 encoding library.
//
//     HRESULT hr = Win32::RunGuarded([&] { return Encode(samples, count); });  // HRESULT call
//     HRESULT hr = Win32::RunGuarded([&] { lame_close(flags); });             // void call: S_OK
//     int written = 0;
//     HRESULT hr = Win32::RunGuarded([&] { written = lame_encode_flush(...); });
//
// On x86 the guard links a structured-exception record into the calling thread's chain for the
// length of the call and takes it out again on both paths, so the chain is as it was; on x64 the
// call runs inside a small function whose unwind table names the guard's handler. Either way it
// works on any thread, nests, lets handlers inside the call deal with their own faults first, and
// needs nothing set up beforehand.
//
// After a fault the call is abandoned where it stood: destructors of C++ objects inside the call
// do not run, and locks it held stay held. Guard plain C code such as the encoder, not C++ code
// with resources. A C++ exception thrown inside the call is not caught by the guard; software
// exceptions raised with RaiseException pass through it unless their code has error severity.
#include <windows.h>

#include <type_traits>
#include <utility>

namespace Win32 {

using GuardedCall = HRESULT (*)(void* context);

// Calls call(context) and returns its result, or E_ABORT when it faults.
HRESULT RunGuardedCall(GuardedCall call, void* context);

// Calls call() and returns E_ABORT when it faults; otherwise its result when that is an HRESULT,
// else S_OK (any other return value is discarded: capture it by reference instead).
template <class F>
HRESULT RunGuarded(F&& call)
{
    using Callable = std::remove_reference_t<F>;
    return RunGuardedCall(
        [](void* context) -> HRESULT {
            Callable& target = *static_cast<Callable*>(context);
            if constexpr (std::is_same_v<decltype(target()), HRESULT>) {
                return target();
            } else {
                target();
                return S_OK;
            }
        },
        const_cast<void*>(static_cast<const void*>(&call)));
}

} // namespace Win32
