#include "support/media_type.h"

#include <cstring>

namespace DirectShow {

namespace {

bool IsBadRecord(const AM_MEDIA_TYPE* mt)
{
    return mt == nullptr || ::IsBadReadPtr(mt, sizeof(*mt)) || ::IsBadWritePtr(const_cast<AM_MEDIA_TYPE*>(mt), sizeof(*mt));
}

bool IsBadUnknown(IUnknown* unknown)
{
    // Release and AddRef read the interface's table pointer.
    return ::IsBadReadPtr(unknown, sizeof(void*)) != FALSE;
}

} // namespace

HRESULT FreeMediaType(AM_MEDIA_TYPE* mt)
{
    if (IsBadRecord(mt))
        return E_POINTER;
    // Everything is checked before anything is released: a record that is refused keeps all it had,
    // and a later free does not release the same pUnk twice.
    if (mt->pUnk != nullptr && IsBadUnknown(mt->pUnk))
        return E_POINTER;
    if (mt->pbFormat != nullptr) {
        if (mt->cbFormat == 0)
            return E_INVALIDARG;
        if (::IsBadReadPtr(mt->pbFormat, mt->cbFormat) || ::IsBadWritePtr(mt->pbFormat, mt->cbFormat))
            return E_POINTER;
    }
    if (mt->pUnk != nullptr)
        mt->pUnk->Release();
    if (mt->pbFormat != nullptr)
        ::CoTaskMemFree(mt->pbFormat);
    std::memset(mt, 0, sizeof(*mt));
    return S_OK;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src)
{
    if (src == nullptr || ::IsBadReadPtr(src, sizeof(*src)))
        return E_POINTER;
    if (dst == src)
        return E_INVALIDARG;
    if (src->pUnk != nullptr && IsBadUnknown(src->pUnk))
        return E_POINTER;
    if (src->pbFormat != nullptr) {
        if (src->cbFormat == 0)
            return VFW_E_INVALID_MEDIA_TYPE;
        if (::IsBadReadPtr(src->pbFormat, src->cbFormat))
            return E_POINTER;
    }
    if (IsBadRecord(dst))
        return E_POINTER;

    // The copy is made before dst lets go of what it holds: src may share dst's format block or
    // its last reference on pUnk (src may even lie in dst's block).
    AM_MEDIA_TYPE copy = *src;
    copy.cbFormat = 0;
    copy.pbFormat = nullptr;
    HRESULT result = S_OK;
    if (src->pbFormat != nullptr) {
        BYTE* const block = static_cast<BYTE*>(::CoTaskMemAlloc(src->cbFormat));
        if (block != nullptr) {
            std::memcpy(block, src->pbFormat, src->cbFormat);
            copy.pbFormat = block;
            copy.cbFormat = src->cbFormat;
        } else {
            result = E_OUTOFMEMORY;
        }
    }
    if (copy.pUnk != nullptr)
        copy.pUnk->AddRef();

    const HRESULT freed = FreeMediaType(dst);
    if (FAILED(freed)) {
        if (copy.pUnk != nullptr)
            copy.pUnk->Release();
        if (copy.pbFormat != nullptr)
            ::CoTaskMemFree(copy.pbFormat);
        return freed;
    }
    *dst = copy;
    return result;
}

HRESULT DeleteMediaType(AM_MEDIA_TYPE** pmt)
{
    if (pmt == nullptr || ::IsBadReadPtr(pmt, sizeof(*pmt)) || ::IsBadWritePtr(pmt, sizeof(*pmt)))
        return E_POINTER;
    if (*pmt == nullptr)
        return S_FALSE;
    const HRESULT freed = FreeMediaType(*pmt);
    if (FAILED(freed))
        return freed;
    ::CoTaskMemFree(*pmt);
    *pmt = nullptr;
    return S_OK;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE()
{
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    bFixedSizeSamples = FALSE;
    bTemporalCompression = FALSE;
    lSampleSize = 0;
    formattype = GUID_NULL;
    pUnk = nullptr;
    cbFormat = 0;
    pbFormat = nullptr;
}

CMediaType::~CMediaType()
{
    FreeMediaType(this);
}

HRESULT CMediaType::CopyTo(AM_MEDIA_TYPE* dst) const
{
    return CopyMediaType(dst, this);
}

HRESULT CMediaType::CopyFrom(const AM_MEDIA_TYPE* src)
{
    return CopyMediaType(this, src);
}

} // namespace DirectShow
