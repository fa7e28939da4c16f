#include "graph/filter_enumerator.h"

#include <objbase.h>
#include <uuids.h>

#include <cwchar>
#include <new>

#include "graph/device_utilities.h"

namespace DirectShow {

CFilterEnumerator::~CFilterEnumerator()
{
    Free();
    m_com.Uninitialise();
}

HRESULT CFilterEnumerator::EnumerateCategory(DWORD flags, REFCLSID category)
{
    if (m_comReleased)
        return E_UNEXPECTED; // filled already
    HRESULT hr = m_com.Initialise();
    if (FAILED(hr))
        return hr;
    COM::TPtr<ICreateDevEnum> devices;
    hr = ::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                            reinterpret_cast<void**>(&devices));
    if (FAILED(hr))
        return hr;
    COM::TPtr<IEnumMoniker> monikers;
    hr = devices->CreateClassEnumerator(category, &monikers, flags & 0xF0);
    // S_FALSE: the category is empty (and there is no enumerator).
    if (hr != S_OK)
        return hr;
    if (monikers.IsNull())
        return E_UNEXPECTED;
    return Append(monikers);
}

HRESULT CFilterEnumerator::EnumerateMatchingFilters(const CMediaTypePair& input, const CMediaTypePair& output)
{
    if (m_comReleased)
        return E_UNEXPECTED; // filled already
    HRESULT hr = m_com.Initialise();
    if (FAILED(hr))
        return hr;
    COM::TPtr<IFilterMapper2> mapper;
    hr = ::CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                            reinterpret_cast<void**>(&mapper));
    if (FAILED(hr))
        return hr;
    const GUID inputTypes[2] = {input.majorType, input.subtype};
    const GUID outputTypes[2] = {output.majorType, output.subtype};
    COM::TPtr<IEnumMoniker> monikers;
    hr = mapper->EnumMatchingFilters(&monikers, 0, TRUE, MERIT_DO_NOT_USE, TRUE, 1, inputTypes, nullptr, nullptr,
                                     FALSE, TRUE, 1, outputTypes, nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    // No enumerator at all: nothing matched.
    return monikers.IsNull() ? S_FALSE : Append(monikers);
}

HRESULT CFilterEnumerator::Append(IEnumMoniker* monikers)
{
    bool appended = false;
    for (;;) {
        COM::TPtr<IMoniker> moniker;
        const HRESULT next = monikers->Next(1, &moniker, nullptr);
        if (next != S_OK || moniker.IsNull()) {
            if (FAILED(next))
                return next;
            return appended ? S_OK : S_FALSE;
        }
        void* grown = ::CoTaskMemRealloc(m_monikers, (m_count + 1) * sizeof(IMoniker*));
        if (grown == nullptr)
            return E_OUTOFMEMORY;  // the array is as it was
        m_monikers = static_cast<IMoniker**>(grown);
        // The entry takes over the reference that Next handed out.
        m_monikers[m_count] = moniker.p;
        moniker.p = nullptr;
        ++m_count;
        m_defaultIndex = 0;
        appended = true;
    }
}

HRESULT CFilterEnumerator::GetDefaultIndex(LONG* index) const
{
    if (index == nullptr || ::IsBadWritePtr(index, sizeof(*index)))
        return E_POINTER;
    *index = m_defaultIndex;
    return m_defaultIndex == -1 ? S_FALSE : S_OK;
}

HRESULT CFilterEnumerator::GetCount(ULONG* count) const
{
    if (count == nullptr || ::IsBadWritePtr(count, sizeof(*count)))
        return E_POINTER;
    *count = m_count;
    return m_count == 0 ? S_FALSE : S_OK;
}

HRESULT CFilterEnumerator::GetItem(ULONG index, IMoniker** moniker) const
{
    if (moniker == nullptr || ::IsBadWritePtr(moniker, sizeof(*moniker)))
        return E_POINTER;
    if (index >= m_count)
        return E_INVALIDARG;
    if (m_monikers == nullptr || ::IsBadReadPtr(m_monikers + index, sizeof(*m_monikers)) ||
        m_monikers[index] == nullptr)
        return E_UNEXPECTED;
    *moniker = m_monikers[index];
    (*moniker)->AddRef();
    return S_OK;
}

HRESULT CFilterEnumerator::FindById(const wchar_t* id, LONG* index) const
{
    *index = -1;
    for (ULONG item = 0; id != nullptr && item < m_count; ++item) {
        COM::TPtr<IMoniker> moniker;
        wchar_t* itemId = nullptr;
        const bool found = SUCCEEDED(GetItem(item, &moniker)) && SUCCEEDED(GetDeviceId(moniker, &itemId)) &&
                           std::wcscmp(itemId, id) == 0;
        ::CoTaskMemFree(itemId);
        if (found) {
            *index = static_cast<LONG>(item);
            return S_OK;
        }
    }
    return DeviceNotPresent;
}

HRESULT CFilterEnumerator::GetFriendlyNames(CDeviceNameList& list) const
{
    HRESULT hr = S_FALSE;
    for (ULONG index = 0; index < m_count; ++index) {
        COM::TPtr<IMoniker> moniker;
        hr = GetItem(index, &moniker);
        if (FAILED(hr))
            continue;
        wchar_t* name = nullptr;
        hr = GetFriendlyName(moniker, &name);
        if (FAILED(hr))
            continue;
        try {
            list.push_back(CDeviceName{moniker, name});
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        ::CoTaskMemFree(name);
    }
    return hr;
}

HRESULT CFilterEnumerator::Free()
{
    HRESULT hr = S_FALSE;
    if (m_count != 0) {
        if (m_monikers == nullptr || ::IsBadReadPtr(m_monikers, m_count * sizeof(*m_monikers)) ||
            ::IsBadWritePtr(m_monikers, m_count * sizeof(*m_monikers))) {
            hr = E_UNEXPECTED;
        } else {
            for (ULONG index = 0; index < m_count; ++index) {
                IMoniker* const moniker = m_monikers[index];
                m_monikers[index] = nullptr;
                if (moniker != nullptr)
                    moniker->Release();
            }
            hr = S_OK;
        }
    }
    if (SUCCEEDED(hr)) {
        ::CoTaskMemFree(m_monikers);
        m_monikers = nullptr;
        m_count = 0;
        m_defaultIndex = -1;
    }
    if (m_com.Initialised() || m_comReleased) {
        m_com.Uninitialise();
        m_comReleased = false;
        return hr;
    }
    return hr == S_OK ? S_FALSE : hr;
}

HRESULT CFilterEnumerator::ReleaseCom()
{
    if (!m_com.Initialised())
        return S_FALSE;
    m_comReleased = true;
    return m_com.Uninitialise();
}

} // namespace DirectShow
