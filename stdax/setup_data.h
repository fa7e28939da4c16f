#pragma once
// The static description a filter gives of itself and of its pins: what the filter mapper records
// when the filter is registered, and what the pins offer and accept when they connect.
//
// The layouts are the platform's registration records: a pin record is a REGFILTERPINS (36 bytes, 56 on x64),
// a media type entry a REGPINTYPES (a major and a minor type identifier, either may be GUID_NULL to
// stand for any). The tables are static data of the filter; nothing here copies what they point to.
#include <windows.h>
#include <strmif.h>

typedef REGPINTYPES AMOVIESETUP_MEDIATYPE;
typedef REGFILTERPINS AMOVIESETUP_PIN;

struct AMOVIESETUP_FILTER {
    const CLSID* clsID;          // the filter's class identifier
    const WCHAR* strName;        // its registration name
    DWORD dwMerit;               // its merit for the graph manager's searches
    UINT nPins;                  // number of records in lpPin
    const AMOVIESETUP_PIN* lpPin;
};

static_assert(sizeof(AMOVIESETUP_MEDIATYPE) == 2 * sizeof(void*), "a media type entry is two pointers");
#if defined(_WIN64)
static_assert(sizeof(AMOVIESETUP_PIN) == 56, "a pin record is 56 bytes");
static_assert(sizeof(AMOVIESETUP_FILTER) == 32, "a filter record is 32 bytes");
#else
static_assert(sizeof(AMOVIESETUP_PIN) == 36, "a pin record is 36 bytes");
static_assert(sizeof(AMOVIESETUP_FILTER) == 20, "a filter record is 20 bytes");
#endif
