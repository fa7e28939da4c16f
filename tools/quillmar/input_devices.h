// The audio input devices as the library lists them (getInputDevices), so that the ids the tool passes to
// recordFromDevice are the library's own, and the choice of one by the user's --device.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CQuillmarLibrary;

struct InputDevice {
    std::wstring id;
    std::wstring name;
};

class CInputDevices {
public:
    // Reads the list afresh through the library; S_FALSE for none, else the library's failure.
    HRESULT Read(CQuillmarLibrary& library);
    // Parses the library's text: "id<TAB>name<LF>" per device, the default first.
    void Parse(const std::string& utf8List);
    const std::vector<InputDevice>& Devices() const { return m_devices; }

    // The device that a --device value names: a number from 1 (as `quillmar devices` shows them), else
    // the one whose name equals the text or, failing that, the only one whose name holds it, both
    // ignoring case. -1 with a one-line error (that lists the devices) when none or several fit.
    int Choose(const std::wstring& choice, std::wstring& error) const;
    // "1. name, 2. name" for messages; "none" when empty.
    std::wstring Summary() const;

private:
    std::vector<InputDevice> m_devices;
};
