#include "quillmar/console.h"

#include <windows.h>

namespace {

void Write(DWORD which, const std::wstring& text)
{
    HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty())
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(handle, &mode)) {
        ::WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    if (bytes <= 0)
        return;
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    ::WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

CConsole::CConsole(bool quiet) : m_quiet(quiet), m_live(!quiet && IsConsole(STD_ERROR_HANDLE))
{
}

bool CConsole::IsConsole(unsigned long which)
{
    DWORD mode = 0;
    HANDLE handle = ::GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

void CConsole::Note(const std::wstring& text) const
{
    if (!m_quiet)
        Err(text);
}

void CConsole::Out(const std::wstring& text)
{
    Write(STD_OUTPUT_HANDLE, text);
}

void CConsole::Err(const std::wstring& text)
{
    Write(STD_ERROR_HANDLE, text);
}

void CConsole::Status(const std::wstring& text)
{
    if (!m_live)
        return;
    std::wstring line = L"\r" + text;
    if (text.size() < m_statusLength)
        line += std::wstring(m_statusLength - text.size(), L' ');
    m_statusLength = text.size();
    m_statusShown = true;
    Err(line);
}

void CConsole::EndStatus()
{
    if (m_statusShown)
        Err(L"\n");
    m_statusShown = false;
    m_statusLength = 0;
}
