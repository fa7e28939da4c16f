// Registers (or unregisters) the test platform's stand-ins for the current user only: the module's own
// DllRegisterServer (DllUnregisterServer) runs with HKEY_CLASSES_ROOT redirected to
// HKEY_CURRENT_USER\Software\Classes, so nothing machine-wide is written and no administrator is needed.
//   register_user.exe [/u] MODULE.dll...
// Exit status 0 when every module was (un)registered; else the first failure's result code.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HRESULT RunServerEntry(const wchar_t* module, const char* entry)
{
    HMODULE library = ::LoadLibraryExW(module, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr)
        return HRESULT_FROM_WIN32(::GetLastError());
    using Entry = HRESULT(WINAPI*)();
    const Entry call = reinterpret_cast<Entry>(reinterpret_cast<void*>(::GetProcAddress(library, entry)));
    const HRESULT hr = call != nullptr ? call() : HRESULT_FROM_WIN32(::GetLastError());
    ::FreeLibrary(library);
    return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int first = 1;
    const bool unregister = argc > 1 && ::_wcsicmp(argv[1], L"/u") == 0;
    if (unregister)
        ++first;
    if (first >= argc) {
        std::fwprintf(stderr, L"usage: register_user [/u] MODULE.dll...\n");
        return 2;
    }
    HKEY classes = nullptr;
    LONG error = ::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &classes, nullptr);
    if (error == ERROR_SUCCESS)
        error = ::RegOverridePredefKey(HKEY_CLASSES_ROOT, classes);
    if (error != ERROR_SUCCESS) {
        std::fwprintf(stderr, L"register_user: HKEY_CURRENT_USER\\Software\\Classes: error %ld\n", error);
        return static_cast<int>(HRESULT_FROM_WIN32(error));
    }
    HRESULT result = S_OK;
    for (int i = first; i < argc; ++i) {
        const HRESULT hr = RunServerEntry(argv[i], unregister ? "DllUnregisterServer" : "DllRegisterServer");
        std::wprintf(L"%ls %ls for the current user: 0x%08lX\n", unregister ? L"unregister" : L"register", argv[i],
                     static_cast<unsigned long>(hr));
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    }
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    ::RegCloseKey(classes);
    return static_cast<int>(result);
}
