#pragma once
// Graph helpers of the benchmarks.
#include "stdax/com/ptr.h"

#include <windows.h>
#include <dshow.h>

namespace Bench {

// The filter's first pin with a reference, or null.
inline IPin* FirstPin(IBaseFilter* filter)
{
    COM::TPtr<IEnumPins> pins;
    IPin* pin = nullptr;
    if (SUCCEEDED(filter->EnumPins(&pins)) && pins->Next(1, &pin, nullptr) == S_OK)
        return pin;
    return nullptr;
}

} // namespace Bench
