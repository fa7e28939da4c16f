#pragma once
// DirectShow::CDeviceList reads the devices of one system device category afresh: each with its id (the
// device moniker's display name, the same while the device is present) and its friendly name, in the
// order the system gives them. The first is the default: the device a recording or playback without a
// chosen device uses. CInputDeviceList and COutputDeviceList are the lists of the audio input devices
// and of the audio renderers.
//
// Read initialises COM on the calling thread for its own work and undoes it before it returns.
#include <windows.h>

#include <string>
#include <vector>

namespace DirectShow {

struct CDevice {
    std::wstring id;
    std::wstring name;
};
using CInputDevice = CDevice;

class CDeviceList {
public:
    explicit CDeviceList(REFCLSID category) : m_category(category) {}

    // Replaces the list with the devices present now. S_FALSE (empty list) when there is none; a
    // device whose id or name cannot be read is left out.
    HRESULT Read();

    const std::vector<CDevice>& Devices() const { return m_devices; }
    // Whether a device of the list has this id (compared exactly).
    bool Contains(const wchar_t* id) const;

private:
    CLSID m_category;
    std::vector<CDevice> m_devices;
};

// The audio input devices (capture devices).
class CInputDeviceList : public CDeviceList {
public:
    CInputDeviceList();
};

// The audio renderers (output devices).
class COutputDeviceList : public CDeviceList {
public:
    COutputDeviceList();
};

} // namespace DirectShow
