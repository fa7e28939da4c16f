#include "stdax/file_sink_filter.h"

#include <strsafe.h>

namespace stdax {

IFileSinkFilter2Impl::IFileSinkFilter2Impl() : m_fileName(), m_nameSet(FALSE), m_mode(0), m_modeSet(FALSE) {}

IFileSinkFilter2Impl::~IFileSinkFilter2Impl()
{
    DirectShow::FreeMediaType(&m_mediaType);
}

HRESULT STDMETHODCALLTYPE IFileSinkFilter2Impl::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt)
{
    // The copy reads at most FileNameLength characters.
    if (pszFileName == nullptr || ::IsBadStringPtrW(pszFileName, FileNameLength))
        return E_POINTER;
    if (pmt != nullptr && ::IsBadReadPtr(pmt, sizeof(*pmt)))
        return E_POINTER;

    // Both are made aside first: a refused call leaves the name and type that a host may already be
    // writing to.
    WCHAR name[FileNameLength] = {};
    HRESULT hr = ::StringCchCopyW(name, FileNameLength, pszFileName);
    if (FAILED(hr))
        return hr;
    DirectShow::CMediaType type;
    if (pmt != nullptr) {
        hr = type.CopyFrom(pmt);
        if (FAILED(hr))
            return hr;
    }

    Synchronization::CAutoLock lock(&m_lock);
    if (pmt != nullptr) {
        // Swapping the records moves the new format block and reference in and the old ones out,
        // to be freed with the local record.
        AM_MEDIA_TYPE old = m_mediaType;
        static_cast<AM_MEDIA_TYPE&>(m_mediaType) = type;
        static_cast<AM_MEDIA_TYPE&>(type) = old;
    }
    ::CopyMemory(m_fileName, name, sizeof(m_fileName));
    m_nameSet = TRUE;
    return hr;
}

HRESULT STDMETHODCALLTYPE IFileSinkFilter2Impl::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt)
{
    if (ppszFileName == nullptr || ::IsBadWritePtr(ppszFileName, sizeof(*ppszFileName)))
        return E_POINTER;
    if (pmt != nullptr && ::IsBadWritePtr(pmt, sizeof(*pmt)))
        return E_POINTER;

    Synchronization::CAutoLock lock(&m_lock);
    if (!m_nameSet)
        return E_FAIL;
    auto* const name = static_cast<LPOLESTR>(::CoTaskMemAlloc(sizeof(WCHAR) * FileNameLength));
    HRESULT hr = name != nullptr ? ::StringCchCopyW(name, FileNameLength, m_fileName) : E_OUTOFMEMORY;
    if (pmt != nullptr) {
        ZeroMemory(pmt, sizeof(*pmt));
        if (SUCCEEDED(hr))
            hr = m_mediaType.CopyTo(pmt);
    }
    if (FAILED(hr)) {
        // The caller owns nothing after a failure.
        ::CoTaskMemFree(name);
        if (pmt != nullptr)
            DirectShow::FreeMediaType(pmt);
        *ppszFileName = nullptr;
        return hr;
    }
    *ppszFileName = name;
    return hr;
}

HRESULT STDMETHODCALLTYPE IFileSinkFilter2Impl::SetMode(DWORD dwFlags)
{
    if (dwFlags != 0 && dwFlags != AM_FILE_OVERWRITE)
        return E_INVALIDARG;
    Synchronization::CAutoLock lock(&m_lock);
    m_mode = dwFlags;
    m_modeSet = TRUE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE IFileSinkFilter2Impl::GetMode(DWORD* pdwFlags)
{
    if (pdwFlags == nullptr || ::IsBadWritePtr(pdwFlags, sizeof(*pdwFlags)))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_lock);
    if (!m_modeSet)
        return E_FAIL;
    *pdwFlags = m_mode;
    return S_OK;
}

HRESULT IFileSinkFilter2Impl::CopyFileName(LPWSTR buffer, size_t length)
{
    if (buffer == nullptr || length == 0 || ::IsBadWritePtr(buffer, sizeof(WCHAR) * length))
        return E_POINTER;
    Synchronization::CAutoLock lock(&m_lock);
    if (!m_nameSet)
        return E_FAIL;
    return ::StringCchCopyW(buffer, length, m_fileName);
}

bool IFileSinkFilter2Impl::IsFileNameSet()
{
    Synchronization::CAutoLock lock(&m_lock);
    return m_nameSet != FALSE;
}

DWORD IFileSinkFilter2Impl::Mode()
{
    Synchronization::CAutoLock lock(&m_lock);
    return m_mode;
}

} // namespace stdax
