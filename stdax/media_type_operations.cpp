#include "stdax/media_type_operations.h"

#include <cstring>

namespace stdax {

void InitializeMediaType(AM_MEDIA_TYPE* mt)
{
    std::memset(mt, 0, sizeof(*mt));
    mt->bFixedSizeSamples = TRUE;
    mt->lSampleSize = 1;
}

void FreeMediaTypeContents(AM_MEDIA_TYPE* mt)
{
    // A block is freed whenever there is one, also one whose length was lost, so that it cannot
    // leak.
    if (mt->pbFormat != nullptr)
        ::CoTaskMemFree(mt->pbFormat);
    mt->cbFormat = 0;
    mt->pbFormat = nullptr;
    if (mt->pUnk != nullptr) {
        IUnknown* const unknown = mt->pUnk;
        mt->pUnk = nullptr;
        unknown->Release();
    }
}

HRESULT CopyMediaTypeContents(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source)
{
    *target = *source;
    if (source->cbFormat != 0) {
        if (source->pbFormat == nullptr) {
            target->cbFormat = 0;
            target->pbFormat = nullptr;
            target->pUnk = nullptr;
            return VFW_E_INVALID_MEDIA_TYPE;
        }
        target->pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(source->cbFormat));
        if (target->pbFormat == nullptr) {
            target->cbFormat = 0;
            target->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
        // No length, no block: the target never shares the source's pointer.
        target->pbFormat = nullptr;
    }
    if (target->pUnk != nullptr)
        target->pUnk->AddRef();
    return S_OK;
}

HRESULT AssignMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source)
{
    if (target == source)
        return S_OK;
    FreeMediaTypeContents(target);
    return CopyMediaTypeContents(target, source);
}

void DeleteMediaTypeRecord(AM_MEDIA_TYPE* mt)
{
    if (mt == nullptr)
        return;
    FreeMediaTypeContents(mt);
    ::CoTaskMemFree(mt);
}

bool MediaTypeMatchesPartially(const AM_MEDIA_TYPE* pattern, const AM_MEDIA_TYPE* candidate)
{
    if (pattern->majortype != GUID_NULL && pattern->majortype != candidate->majortype)
        return false;
    if (pattern->subtype != GUID_NULL && pattern->subtype != candidate->subtype)
        return false;
    if (pattern->formattype == GUID_NULL)
        return true;
    if (pattern->formattype != candidate->formattype || pattern->cbFormat != candidate->cbFormat)
        return false;
    if (pattern->cbFormat == 0)
        return true;
    // A record that announces a block without having one matches nothing.
    if (pattern->pbFormat == nullptr || candidate->pbFormat == nullptr)
        return false;
    return std::memcmp(pattern->pbFormat, candidate->pbFormat, pattern->cbFormat) == 0;
}

bool IsMediaTypePartiallySpecified(const AM_MEDIA_TYPE* mt)
{
    return mt->majortype == GUID_NULL || mt->formattype == GUID_NULL;
}

BYTE* ReallocateFormatBlock(AM_MEDIA_TYPE* mt, ULONG length)
{
    if (mt->cbFormat == length)
        return mt->pbFormat;
    BYTE* const block = static_cast<BYTE*>(::CoTaskMemAlloc(length));
    if (block == nullptr)
        return mt->cbFormat >= length ? mt->pbFormat : nullptr;
    if (mt->pbFormat != nullptr)
        ::CoTaskMemFree(mt->pbFormat);
    mt->pbFormat = block;
    mt->cbFormat = length;
    return block;
}

} // namespace stdax
