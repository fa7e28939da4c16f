#include "quillmar/result_codes.h"

#include <cstdio>

namespace {

struct ResultName {
    HRESULT code;
    const char* name;
    const wchar_t* text;
};

// Generated from tools/result_codes/result_codes.tsv, the table the Java package's lookup comes from too.
const ResultName kNames[] = {
#include "result_code_table.inc"
};

const ResultName* Find(HRESULT code)
{
    for (const ResultName& entry : kNames) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

std::wstring FormatFrom(DWORD flags, HMODULE source, HRESULT code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          source, static_cast<DWORD>(code), 0,
                                          reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr)
        text.assign(buffer, length);
    if (buffer != nullptr)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    for (wchar_t& c : text) {
        if (c == L'\r' || c == L'\n')
            c = L' ';
    }
    return text;
}

}  // namespace

const char* CResultCodes::Name(HRESULT code)
{
    const ResultName* entry = Find(code);
    return entry ? entry->name : nullptr;
}

std::wstring CResultCodes::Message(HRESULT code)
{
    if (const ResultName* entry = Find(code))
        return entry->text;
    std::wstring text = FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    if (text.empty() && HRESULT_FACILITY(code) == FACILITY_ITF) {
        // The media framework's codes live in quartz.dll's message table.
        HMODULE quartz = ::LoadLibraryExW(L"quartz.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (quartz != nullptr) {
            text = FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, quartz, code);
            ::FreeLibrary(quartz);
        }
    }
    return text;
}

std::wstring CResultCodes::Describe(HRESULT code)
{
    wchar_t hex[16];
    std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(code));
    std::wstring line = hex;
    const char* name = Name(code);
    line += L' ';
    if (name != nullptr) {
        for (const char* c = name; *c; ++c)
            line += static_cast<wchar_t>(*c);
    } else {
        line += L"(a code this tool does not know)";
    }
    const std::wstring message = Message(code);
    if (!message.empty()) {
        line += L": ";
        line += message;
    }
    return line;
}
