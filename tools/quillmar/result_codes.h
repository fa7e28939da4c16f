// Names and message texts of the result codes that Tessaro.dll and the platform under it return.
#pragma once

#include <windows.h>

#include <string>

class CResultCodes {
public:
    // The symbolic name of a code ("E_INVALIDARG", "VFW_E_NOT_FOUND",
    // "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"); null for a code the table does not know.
    static const char* Name(HRESULT code);
    // The platform's message text for the code (the system's message table, then quartz.dll's for
    // the VFW codes), trimmed; else a short text of our own for the codes this library returns; else "".
    static std::wstring Message(HRESULT code);
    // One line for a failure: "0x8004025C VFW_E_UNSUPPORTED_AUDIO: <message>".
    static std::wstring Describe(HRESULT code);
};
