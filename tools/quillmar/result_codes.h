// Names and explanations of the result codes that Tessaro.dll and the platform under it return, from the
// project's one result-code table (tools/result_codes/result_codes.tsv).
#pragma once

#include <windows.h>

#include <string>

class CResultCodes {
public:
    // The symbolic name of a code ("E_INVALIDARG", "VFW_E_NOT_FOUND",
    // "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"); null for a code the table does not know.
    static const char* Name(HRESULT code);
    // The table's short explanation; for a code it does not know, the system's message text (or quartz.dll's
    // for the media framework's codes) on one line; else "".
    static std::wstring Message(HRESULT code);
    // One line for a failure: "0x8004025C VFW_E_UNSUPPORTED_AUDIO: <explanation>".
    static std::wstring Describe(HRESULT code);
};
