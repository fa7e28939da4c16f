#include "quillmar/session_control.h"

#include "quillmar/user_input.h"

#include <windows.h>

#include <cstdlib>

CInterruptHook::CInterruptHook()
{
    wchar_t value[32];
    const DWORD length = ::GetEnvironmentVariableW(L"QUILLMAR_TEST_CTRL_C_AFTER", value, 32);
    if (length > 0 && length < 32)
        m_after = std::wcstoul(value, nullptr, 10);
}

void CInterruptHook::StatusDrawn()
{
    if (m_after != 0 && ++m_drawn == m_after)
        CUserInput::RaiseCtrlC();
}

std::wstring FullPath(const std::wstring& path)
{
    const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return path;
    std::wstring full(length, L'\0');
    const DWORD written = ::GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
    if (written == 0 || written >= length)
        return path;
    full.resize(written);
    return full;
}

long long FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
