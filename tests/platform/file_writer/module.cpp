// The File Writer stand-in as an in-process COM server for the test prefix.
#include "platform/file_writer/file_writer.h"

#include <shlwapi.h>
#include <uuids.h>

namespace {

class CFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        return COM::CreateObject(&FileWriter::CFilter::CreateInstance, outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

CFactory g_factory;
HMODULE g_module = nullptr;

const wchar_t kClassKey[] = L"CLSID\\{8596E5F0-0DA5-11D0-BD21-00A0C911CE86}";

LONG SetString(HKEY key, const wchar_t* name, const wchar_t* value)
{
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            static_cast<DWORD>((::lstrlenW(value) + 1) * sizeof(wchar_t)));
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        ::DisableThreadLibraryCalls(instance);
        // A process started for a fault test (the command-line tool) is given the limit this way.
        wchar_t limit[24] = {};
        const DWORD length = ::GetEnvironmentVariableW(L"TESSARO_TEST_WRITE_FAIL_AFTER", limit, 24);
        if (length > 0 && length < 24)
            FileWriter::SetWriteLimit(static_cast<ULONGLONG>(_wcstoui64(limit, nullptr, 10)));
    }
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID riid, void** ppv)
{
    if (classId != CLSID_FileWriter)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

// Stays loaded: filters may outlive any count we could keep of them in a test.
__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE;
}

// Replaces the platform's class registration: the whole prefix then gets this writer.
__declspec(dllexport) HRESULT WINAPI DllRegisterServer()
{
    wchar_t module[MAX_PATH];
    if (::GetModuleFileNameW(g_module, module, MAX_PATH) == 0)
        return E_FAIL;
    wchar_t serverKey[MAX_PATH];
    ::wsprintfW(serverKey, L"%s\\InprocServer32", kClassKey);
    HKEY key = nullptr;
    LONG error = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, serverKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS) {
        error = SetString(key, nullptr, module);
        if (error == ERROR_SUCCESS)
            error = SetString(key, L"ThreadingModel", L"Both");
        ::RegCloseKey(key);
    }
    return HRESULT_FROM_WIN32(error);
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer()
{
    return HRESULT_FROM_WIN32(::SHDeleteKeyW(HKEY_CLASSES_ROOT, kClassKey));
}

__declspec(dllexport) HRESULT WINAPI FileWriter_FailWritesAfter(ULONGLONG bytes)
{
    FileWriter::SetWriteLimit(bytes);
    return S_OK;
}

} // extern "C"
