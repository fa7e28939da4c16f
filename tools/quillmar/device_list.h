// The friendly names of one device category of the system device enumerator, in the enumerator's
// order: the order in which the library meets them (it records from the first audio input device).
#pragma once

#include <windows.h>

#include <objidl.h>

#include <string>
#include <vector>

class CDeviceList {
public:
    // Fills the list from the category; S_FALSE for an empty category, else the platform's failure.
    // COM must be initialised on the calling thread.
    HRESULT Enumerate(const GUID& category);
    const std::vector<std::wstring>& Names() const { return m_names; }
    // The moniker's "FriendlyName", or "(no name)".
    static std::wstring FriendlyName(IMoniker* moniker);

private:
    std::vector<std::wstring> m_names;
};
