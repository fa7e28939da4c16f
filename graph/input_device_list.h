#pragma once
// DirectShow::CInputDeviceList reads the system's audio input devices afresh: each with its id (the
// device moniker's display name, the same while the device is present) and its friendly name, in the
// order the system gives them. The first is the default, the device a recording without a chosen
// device uses.
//
// Read initialises COM on the calling thread for its own work and undoes it before it returns.
#include <windows.h>

#include <string>
#include <vector>

namespace DirectShow {

struct CInputDevice {
    std::wstring id;
    std::wstring name;
};

class CInputDeviceList {
public:
    // Replaces the list with the devices present now. S_FALSE (empty list) when there is none; a
    // device whose id or name cannot be read is left out.
    HRESULT Read();

    const std::vector<CInputDevice>& Devices() const { return m_devices; }
    // Whether a device of the list has this id (compared exactly).
    bool Contains(const wchar_t* id) const;

private:
    std::vector<CInputDevice> m_devices;
};

} // namespace DirectShow
