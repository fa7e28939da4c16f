#include "quillmar/device_list.h"

#define STRSAFE_NO_DEPRECATE
#include <dshow.h>

namespace {

template <class Interface>
struct Releaser {
    Interface* pointer = nullptr;
    ~Releaser()
    {
        if (pointer)
            pointer->Release();
    }
};

}  // namespace

std::wstring CDeviceList::FriendlyName(IMoniker* moniker)
{
    Releaser<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag.pointer))))
        return L"(no name)";
    VARIANT value;
    ::VariantInit(&value);
    std::wstring name = L"(no name)";
    if (SUCCEEDED(bag.pointer->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        name.assign(value.bstrVal, ::SysStringLen(value.bstrVal));
    ::VariantClear(&value);
    return name;
}

HRESULT CDeviceList::Enumerate(const GUID& category)
{
    m_names.clear();
    Releaser<ICreateDevEnum> devices;
    HRESULT hr = ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                    reinterpret_cast<void**>(&devices.pointer));
    if (FAILED(hr))
        return hr;
    Releaser<IEnumMoniker> monikers;
    hr = devices.pointer->CreateClassEnumerator(category, &monikers.pointer, 0);
    if (hr != S_OK)
        return hr;
    for (;;) {
        Releaser<IMoniker> moniker;
        if (monikers.pointer->Next(1, &moniker.pointer, nullptr) != S_OK)
            break;
        m_names.push_back(FriendlyName(moniker.pointer));
    }
    return m_names.empty() ? S_FALSE : S_OK;
}
