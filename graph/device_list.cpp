#include "graph/device_list.h"

#include <dshow.h>
#include <uuids.h>

#include <new>

#include "graph/device_utilities.h"
#include "graph/filter_enumerator.h"
#include "stdax/com/ptr.h"

namespace DirectShow {

CInputDeviceList::CInputDeviceList() : CDeviceList(CLSID_AudioInputDeviceCategory) {}

COutputDeviceList::COutputDeviceList() : CDeviceList(CLSID_AudioRendererCategory) {}

HRESULT CDeviceList::Read()
{
    m_devices.clear();
    CFilterEnumerator devices;
    HRESULT hr = devices.EnumerateCategory(0, m_category);
    ULONG count = 0;
    if (hr == S_OK)
        hr = devices.GetCount(&count);
    for (ULONG index = 0; hr == S_OK && index < count; ++index) {
        COM::TPtr<IMoniker> moniker;
        wchar_t* id = nullptr;
        wchar_t* name = nullptr;
        if (SUCCEEDED(devices.GetItem(index, &moniker)) && SUCCEEDED(GetDeviceId(moniker, &id)) &&
            SUCCEEDED(GetFriendlyName(moniker, &name))) {
            try {
                m_devices.push_back(CDevice{id, name});
            } catch (const std::bad_alloc&) {
                hr = E_OUTOFMEMORY;
            }
        }
        ::CoTaskMemFree(name);
        ::CoTaskMemFree(id);
    }
    const HRESULT freed = devices.Free();
    if (SUCCEEDED(hr) && FAILED(freed))
        hr = freed;
    if (SUCCEEDED(hr))
        hr = m_devices.empty() ? S_FALSE : S_OK;
    return hr;
}

bool CDeviceList::Contains(const wchar_t* id) const
{
    for (const CDevice& device : m_devices) {
        if (id != nullptr && device.id == id)
            return true;
    }
    return false;
}

} // namespace DirectShow
