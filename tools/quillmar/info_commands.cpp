// quillmar version and quillmar devices.
#include "quillmar/commands.h"

#include "quillmar/console.h"
#include "quillmar/device_list.h"
#include "quillmar/library_session.h"

#include <windows.h>

#define STRSAFE_NO_DEPRECATE
#include <dshow.h>

#include <cwchar>
#include <vector>

namespace {

// "A.B.C.D" of a file's version resource; empty when it has none.
std::wstring FileVersion(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return std::wstring();
    std::vector<unsigned char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data()) ||
        !::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return std::wstring();
    wchar_t text[64];
    std::swprintf(text, 64, L"%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                  HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    return text;
}

void PrintCategory(const wchar_t* title, const GUID& category, const wchar_t* firstNote, const wchar_t* emptyNote)
{
    CConsole::Out(std::wstring(title) + L":\n");
    CDeviceList list;
    const HRESULT hr = list.Enumerate(category);
    if (FAILED(hr)) {
        CLibrarySession::ReportFailure(L"enumerating the category", hr);
        return;
    }
    if (list.Names().empty())
        CConsole::Out(std::wstring(L"  (none)  ") + emptyNote + L"\n");
    for (std::size_t i = 0; i < list.Names().size(); ++i) {
        wchar_t number[16];
        std::swprintf(number, 16, L"  %2u. ", static_cast<unsigned>(i + 1));
        CConsole::Out(number + list.Names()[i] + (i == 0 && firstNote ? firstNote : L"") + L"\n");
    }
}

}  // namespace

int RunVersion()
{
    CLibrarySession session;
    if (const int status = session.Open(false))
        return status;
    const int version = session.Library().GetVersion();
    const std::wstring path = session.Library().ModulePath();
    const std::wstring fileVersion = FileVersion(path);
    wchar_t line[96];
    std::swprintf(line, 96, L"getVersion:  %d", version);
    CConsole::Out(line + std::wstring(version == 0 ? L"  (no Drovane.tar with a version resource on the search path)"
                                                   : L"  (file version of Drovane.tar as 1000A+100B+10C+D)") +
                  L"\n");
    CConsole::Out(L"Tessaro.dll: " + (fileVersion.empty() ? std::wstring(L"(no version resource)") : fileVersion) +
                  L"  " + path + L"\n");
    return 0;
}

int RunDevices()
{
    const HRESULT hr = ::CoInitialize(nullptr);
    if (FAILED(hr))
        return CLibrarySession::ReportFailure(L"CoInitialize", hr);
    PrintCategory(L"Audio input devices, in the order the library meets them", CLSID_AudioInputDeviceCategory,
                  L"    <- records", L"recording fails with E_INVALIDARG");
    PrintCategory(L"Audio compressors (for WAVE formats other than MP3; the first that outputs the tag is used)",
                  CLSID_AudioCompressorCategory, nullptr, L"only MP3 can be recorded");
    ::CoUninitialize();
    return 0;
}
