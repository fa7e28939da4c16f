// The audio input or output devices as the library lists them (getInputDevices, getOutputDevices), so that
// the ids the tool passes to recordFromDevice and playOnDevice are the library's own, and the choice of one
// by the user's --device.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CQuillmarLibrary;

struct AudioDevice {
    std::wstring id;
    std::wstring name;
};

enum class DeviceKind { Input, Output };

class CAudioDevices {
public:
    explicit CAudioDevices(DeviceKind kind) : m_kind(kind) {}

    // Reads the list afresh through the library; S_FALSE for none, else the library's failure.
    HRESULT Read(CQuillmarLibrary& library);
    // Parses the library's text: "id<TAB>name<LF>" per device, the default first.
    void Parse(const std::string& utf8List);
    const std::vector<AudioDevice>& Devices() const { return m_devices; }

    // The device that a --device value names: a number from 1 (as `quillmar devices` shows them), else
    // the one whose name equals the text or, failing that, the only one whose name holds it, both
    // ignoring case. -1 with a one-line error (that lists the devices) when none or several fit.
    int Choose(const std::wstring& choice, std::wstring& error) const;
    // "1. name, 2. name" for messages; "none" when empty.
    std::wstring Summary() const;

private:
    DeviceKind m_kind;
    std::vector<AudioDevice> m_devices;
};

// The device that the user's --device value names, looked up in the library's own list so that its id is
// the one the library takes. 0 with the device; otherwise the exit status, the error told on stderr: 1 when
// the library cannot list the devices, 2 (a usage error) when none or several fit.
int ChooseDevice(CQuillmarLibrary& library, DeviceKind kind, const std::wstring& choice, AudioDevice& device);
