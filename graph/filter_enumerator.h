#pragma once
// DirectShow::CFilterEnumerator collects the monikers of one device category (through the system
// device enumerator) or of the registered filters that turn one media type into another (through the
// filter mapper), and lists them with their friendly names.
//
// Filling an enumerator initialises COM on the calling thread and keeps that initialisation until
// Free, which also marks the enumerator empty again; a filled enumerator refuses a second fill
// (E_UNEXPECTED). The "default" entry is always the first moniker the platform returned.
//
// No lock of its own: the capture graph serialises all use under its lock.
#include <windows.h>
#include <strmif.h>

#include <string>
#include <vector>

#include "stdax/com/ptr.h"
#include "support/com_init.h"

namespace DirectShow {

// One entry of a friendly-name list: the moniker and the name it gives for itself.
struct CDeviceName {
    COM::TPtr<IMoniker> moniker;
    std::wstring name;
};
using CDeviceNameList = std::vector<CDeviceName>;

// A major type and subtype, as the filter mapper takes them.
struct CMediaTypePair {
    GUID majorType;
    GUID subtype;
};

class CFilterEnumerator {
public:
    CFilterEnumerator() = default;
    // Frees the monikers and undoes this enumerator's COM initialisation.
    ~CFilterEnumerator();
    CFilterEnumerator(const CFilterEnumerator&) = delete;
    CFilterEnumerator& operator=(const CFilterEnumerator&) = delete;

    // Appends the monikers of the device category. Only the CDEF_DEVMON_... selection bits of flags
    // (0xF0) reach the platform. S_FALSE for an empty category, E_UNEXPECTED when already filled.
    HRESULT EnumerateCategory(DWORD flags, REFCLSID category);
    // Appends the monikers of the filters (merit MERIT_DO_NOT_USE and above) with an input pin of
    // the input type and an output pin of the output type. S_FALSE when none matches.
    HRESULT EnumerateMatchingFilters(const CMediaTypePair& input, const CMediaTypePair& output);

    // The index of the default moniker: S_FALSE with -1 while empty.
    HRESULT GetDefaultIndex(LONG* index) const;
    // The number of monikers: S_FALSE with 0 while empty.
    HRESULT GetCount(ULONG* count) const;
    // The moniker at the index with a reference of its own; E_INVALIDARG for an index out of range.
    HRESULT GetItem(ULONG index, IMoniker** moniker) const;
    // The index of the moniker whose display name (a device's id, see GetDeviceId) is exactly the id;
    // HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) with -1 when none has it.
    HRESULT FindById(const wchar_t* id, LONG* index) const;
    // Appends {moniker, friendly name} for every moniker whose name can be read; the result is that of
    // the last index walked. S_FALSE (nothing appended) when empty.
    HRESULT GetFriendlyNames(CDeviceNameList& list) const;

    // Releases every moniker and undoes the COM initialisation of the fill. S_OK when something was
    // released or COM uninitialised, S_FALSE when there was nothing to do.
    HRESULT Free();
    // Undoes the fill's COM initialisation now, on the thread that filled the enumerator (the calling
    // thread), so that Free may run on any thread; the monikers stay, and a second fill is still
    // refused until Free. S_FALSE when COM was not held.
    HRESULT ReleaseCom();

private:
    HRESULT Append(IEnumMoniker* monikers);

    CComInit m_com;
    bool m_comReleased = false;  // filled, with the fill's COM initialisation already undone
    IMoniker** m_monikers = nullptr;  // from the COM task allocator, one reference per entry
    ULONG m_count = 0;
    LONG m_defaultIndex = -1;
};

} // namespace DirectShow
