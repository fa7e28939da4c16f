// A test stand-in for the platform's URL source filter, registered in the test prefix under its class
// id (which Wine lacks). It aggregates Wine's asynchronous file source: the graph sees that filter and
// its output pin, which Wine's parsers read. Only IFileSourceFilter is its own, so that Load takes a
// "file:" URL as well as a path, and any other URL through the system's Internet client (WinINet): the
// whole resource is fetched into a temporary file before the graph reads it, and a URL that cannot be
// fetched fails Load with the URL moniker's code for what happened, as the platform's filter reports it:
// no such server INET_E_RESOURCE_NOT_FOUND, connection refused or unreachable INET_E_CANNOT_CONNECT,
// timed out INET_E_CONNECTION_TIMEOUT, HTTP 404 or 410 INET_E_OBJECT_NOT_FOUND, any other HTTP error
// INET_E_DOWNLOAD_FAILURE, an unknown scheme INET_E_UNKNOWN_PROTOCOL. (Wine's own URL moniker reports
// every one of these as INET_E_DOWNLOAD_FAILURE, or an HTTP error page as data.)
//
// For tests it also exports UrlReader_Notify, which posts an event into the graph of the newest live
// instance (as a filter of that graph would), and UrlReader_FailStart, which makes every instance
// refuse to leave Stopped (its Pause fails with the given code) as a renderer that cannot start does.
#include <windows.h>
#include <dshow.h>
#include <shlwapi.h>
#include <urlmon.h>
#include <wininet.h>

#include <cwchar>
#include <new>

namespace {

const CLSID kUrlReaderClass = {0xE436EBB6, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

CRITICAL_SECTION g_lock;
class CUrlReader;
CUrlReader* g_newest = nullptr;  // guarded by g_lock
volatile LONG g_failStart = S_OK;  // what Pause returns instead of pausing; S_OK: pause normally

// The filter's IBaseFilter: the async reader's, except that Pause can be made to fail. Its IUnknown
// methods are the controlling object's.
class CFilterFace : public IBaseFilter {
public:
    CFilterFace(IUnknown* controlling, IUnknown** inner) : m_controlling(controlling), m_inner(inner) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_controlling->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return m_controlling->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_controlling->Release(); }

    STDMETHODIMP GetClassID(CLSID* id) override { return Forward([&](IBaseFilter* f) { return f->GetClassID(id); }); }
    STDMETHODIMP Stop() override { return Forward([&](IBaseFilter* f) { return f->Stop(); }); }
    STDMETHODIMP Pause() override
    {
        const HRESULT refused = ::InterlockedCompareExchange(&g_failStart, 0, 0);
        if (refused != S_OK)
            return refused;
        return Forward([&](IBaseFilter* f) { return f->Pause(); });
    }
    STDMETHODIMP Run(REFERENCE_TIME start) override { return Forward([&](IBaseFilter* f) { return f->Run(start); }); }
    STDMETHODIMP GetState(DWORD ms, FILTER_STATE* state) override
    {
        return Forward([&](IBaseFilter* f) { return f->GetState(ms, state); });
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override
    {
        return Forward([&](IBaseFilter* f) { return f->SetSyncSource(clock); });
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override
    {
        return Forward([&](IBaseFilter* f) { return f->GetSyncSource(clock); });
    }
    STDMETHODIMP EnumPins(IEnumPins** pins) override { return Forward([&](IBaseFilter* f) { return f->EnumPins(pins); }); }
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override { return Forward([&](IBaseFilter* f) { return f->FindPin(id, pin); }); }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override
    {
        return Forward([&](IBaseFilter* f) { return f->QueryFilterInfo(info); });
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override
    {
        return Forward([&](IBaseFilter* f) { return f->JoinFilterGraph(graph, name); });
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override
    {
        return Forward([&](IBaseFilter* f) { return f->QueryVendorInfo(info); });
    }

private:
    template <class Call>
    HRESULT Forward(Call call)
    {
        IBaseFilter* filter = nullptr;
        HRESULT hr = *m_inner != nullptr ? (*m_inner)->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter))
                                         : E_UNEXPECTED;
        if (FAILED(hr))
            return hr;
        hr = call(filter);
        filter->Release();
        return hr;
    }

    IUnknown* m_controlling;
    IUnknown** m_inner;
};

HRESULT InternetFailure(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return INET_E_RESOURCE_NOT_FOUND;
    case ERROR_INTERNET_CANNOT_CONNECT:
        return INET_E_CANNOT_CONNECT;
    case ERROR_INTERNET_TIMEOUT:
        return INET_E_CONNECTION_TIMEOUT;
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
        return INET_E_UNKNOWN_PROTOCOL;
    case ERROR_INTERNET_INVALID_URL:
        return INET_E_INVALID_URL;
    default:
        return HRESULT_FROM_WIN32(error);
    }
}

// Fetches the URL into a new temporary file whose path is written to file.
HRESULT Fetch(const wchar_t* url, wchar_t* file, DWORD fileChars)
{
    wchar_t directory[MAX_PATH];
    if (fileChars < MAX_PATH || ::GetTempPathW(MAX_PATH, directory) == 0 ||
        ::GetTempFileNameW(directory, L"url", 0, file) == 0)
        return HRESULT_FROM_WIN32(::GetLastError());
    HRESULT hr = S_OK;
    HINTERNET session = ::InternetOpenW(L"url_reader", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET request = session != nullptr ? ::InternetOpenUrlW(session, url, nullptr, 0,
                                                                INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0)
                                           : nullptr;
    if (request == nullptr)
        hr = InternetFailure(::GetLastError());
    DWORD status = 200;
    DWORD size = sizeof(status);
    if (SUCCEEDED(hr) && ::_wcsnicmp(url, L"http", 4) == 0 &&
        ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
        status >= 400)
        hr = status == 404 || status == 410 ? INET_E_OBJECT_NOT_FOUND : INET_E_DOWNLOAD_FAILURE;
    HANDLE out = SUCCEEDED(hr) ? ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                                               nullptr)
                               : INVALID_HANDLE_VALUE;
    if (SUCCEEDED(hr) && out == INVALID_HANDLE_VALUE)
        hr = HRESULT_FROM_WIN32(::GetLastError());
    for (char buffer[16384]; SUCCEEDED(hr);) {
        DWORD read = 0;
        DWORD written = 0;
        if (!::InternetReadFile(request, buffer, sizeof(buffer), &read))
            hr = InternetFailure(::GetLastError());
        else if (read == 0)
            break;
        else if (!::WriteFile(out, buffer, read, &written, nullptr) || written != read)
            hr = HRESULT_FROM_WIN32(::GetLastError());
    }
    if (out != INVALID_HANDLE_VALUE)
        ::CloseHandle(out);
    if (request != nullptr)
        ::InternetCloseHandle(request);
    if (session != nullptr)
        ::InternetCloseHandle(session);
    if (FAILED(hr))
        ::DeleteFileW(file);
    return hr;
}

class CUrlReader : public IFileSourceFilter {
public:
    static HRESULT Create(REFIID riid, void** ppv)
    {
        CUrlReader* reader = new (std::nothrow) CUrlReader;
        if (reader == nullptr)
            return E_OUTOFMEMORY;
        HRESULT hr = ::CoCreateInstance(CLSID_AsyncReader, reader->Controlling(), CLSCTX_INPROC_SERVER,
                                        IID_IUnknown, reinterpret_cast<void**>(&reader->m_inner));
        if (SUCCEEDED(hr))
            hr = reader->QueryInterface(riid, ppv);
        reader->Release();  // the creation reference
        return hr;
    }

    // The controlling unknown's methods (this object is never aggregated itself).
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = Controlling();
        } else if (riid == IID_IFileSourceFilter) {
            *ppv = static_cast<IFileSourceFilter*>(this);
        } else if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
            *ppv = static_cast<IBaseFilter*>(&m_face);
        } else {
            if (m_inner == nullptr)
                return E_NOINTERFACE;
            return m_inner->QueryInterface(riid, ppv);
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_references)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = ::InterlockedDecrement(&m_references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP Load(LPCOLESTR name, const AM_MEDIA_TYPE* type) override
    {
        if (name == nullptr)
            return E_POINTER;
        wchar_t path[MAX_PATH * 4];
        const wchar_t* file = name;
        if (::_wcsnicmp(name, L"file:", 5) == 0) {
            DWORD length = sizeof(path) / sizeof(path[0]);
            const HRESULT converted = ::PathCreateFromUrlW(name, path, &length, 0);
            if (FAILED(converted))
                return converted;
            file = path;
        } else if (::wcsstr(name, L"://") != nullptr) {
            const HRESULT fetched = Fetch(name, path, sizeof(path) / sizeof(path[0]));
            if (FAILED(fetched))
                return fetched;
            ::lstrcpynW(m_fetched, path, MAX_PATH);
            file = path;
        }
        IFileSourceFilter* inner = nullptr;
        HRESULT hr = m_inner->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&inner));
        if (SUCCEEDED(hr)) {
            hr = inner->Load(file, type);
            inner->Release();
        }
        return hr;
    }

    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* type) override
    {
        IFileSourceFilter* inner = nullptr;
        HRESULT hr = m_inner->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&inner));
        if (SUCCEEDED(hr)) {
            hr = inner->GetCurFile(name, type);
            inner->Release();
        }
        return hr;
    }

    // Posts the event into the graph this filter has joined.
    HRESULT Notify(long code, LONG_PTR param1, LONG_PTR param2)
    {
        IBaseFilter* filter = nullptr;
        HRESULT hr = m_inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
        if (FAILED(hr))
            return hr;
        FILTER_INFO info = {};
        hr = filter->QueryFilterInfo(&info);
        filter->Release();
        if (FAILED(hr))
            return hr;
        if (info.pGraph == nullptr)
            return E_UNEXPECTED;
        IMediaEventSink* sink = nullptr;
        hr = info.pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
        info.pGraph->Release();
        if (FAILED(hr))
            return hr;
        hr = sink->Notify(code, param1, param2);
        sink->Release();
        return hr;
    }

private:
    CUrlReader()
    {
        ::EnterCriticalSection(&g_lock);
        g_newest = this;
        ::LeaveCriticalSection(&g_lock);
    }

    virtual ~CUrlReader()
    {
        ::EnterCriticalSection(&g_lock);
        if (g_newest == this)
            g_newest = nullptr;
        ::LeaveCriticalSection(&g_lock);
        // Keeps the object alive while the inner one releases itself.
        m_references = 1;
        if (m_inner != nullptr)
            m_inner->Release();
        if (m_fetched[0] != L'\0')
            ::DeleteFileW(m_fetched);
    }

    IUnknown* Controlling() { return reinterpret_cast<IUnknown*>(static_cast<IFileSourceFilter*>(this)); }

    LONG m_references = 1;
    IUnknown* m_inner = nullptr;  // the async reader's own (non-delegating) unknown
    wchar_t m_fetched[MAX_PATH] = {};  // the temporary file a URL was fetched into, removed with this object
    CFilterFace m_face{Controlling(), &m_inner};
};

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
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        return CUrlReader::Create(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

CFactory g_factory;
HMODULE g_module = nullptr;

const wchar_t kClassKey[] = L"CLSID\\{E436EBB6-524F-11CE-9F53-0020AF0BA770}";

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
        ::InitializeCriticalSection(&g_lock);
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID riid, void** ppv)
{
    if (classId != kUrlReaderClass)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

// Stays loaded: instances may outlive any count we could keep of them in a test.
__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow()
{
    return S_FALSE;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer()
{
    wchar_t module[MAX_PATH];
    if (::GetModuleFileNameW(g_module, module, MAX_PATH) == 0)
        return E_FAIL;
    const wchar_t serverKey[] = L"CLSID\\{E436EBB6-524F-11CE-9F53-0020AF0BA770}\\InprocServer32";
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

// Posts an event into the graph of the newest live instance; E_UNEXPECTED when there is none.
__declspec(dllexport) HRESULT WINAPI UrlReader_Notify(long code, LONG_PTR param1, LONG_PTR param2)
{
    ::EnterCriticalSection(&g_lock);
    CUrlReader* reader = g_newest;
    if (reader != nullptr)
        reader->AddRef();
    ::LeaveCriticalSection(&g_lock);
    if (reader == nullptr)
        return E_UNEXPECTED;
    const HRESULT hr = reader->Notify(code, param1, param2);
    reader->Release();
    return hr;
}

// From now on every instance's Pause fails with hr instead of pausing (S_OK: pauses again).
__declspec(dllexport) void WINAPI UrlReader_FailStart(HRESULT hr)
{
    ::InterlockedExchange(&g_failStart, hr);
}

} // extern "C"
