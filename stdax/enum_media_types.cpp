#include "stdax/enum_media_types.h"

#include "stdax/base_pin.h"
#include "stdax/media_type_operations.h"

#include <climits>
#include <new>

namespace stdax {

CEnumMediaTypes* CEnumMediaTypes::Create(CBasePin* pin, const CEnumMediaTypes* source)
{
    CEnumMediaTypes* const enumerator = new (std::nothrow) CEnumMediaTypes(pin);
    if (enumerator == nullptr)
        return nullptr;
    if (source != nullptr) {
        // A clone goes on from where its source is, and is as out of date as its source.
        enumerator->m_position = source->m_position;
        enumerator->m_version = source->m_version;
    } else {
        enumerator->m_version = pin->GetMediaTypeVersion();
    }
    return enumerator;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin) : m_position(0), m_pin(pin), m_version(0)
{
    m_pin->PinInterface()->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes()
{
    m_pin->PinInterface()->Release();
}

bool CEnumMediaTypes::IsOutOfSync() const
{
    return m_version != m_pin->GetMediaTypeVersion();
}

CEnumMediaTypes* CEnumMediaTypes::Copy() const
{
    return Create(m_pin, this);
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched)
{
    if (COM::IsBadPointerArray(ppMediaTypes, cMediaTypes))
        return E_POINTER;
    if (IsOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    const HRESULT begun = BeginNext(cMediaTypes, pcFetched);
    if (FAILED(begun))
        return begun;

    HRESULT failure = S_OK;
    ULONG fetched = 0;
    while (fetched < cMediaTypes) {
        AM_MEDIA_TYPE scratch;
        InitializeMediaType(&scratch);
        const HRESULT hr = m_pin->GetMediaType(m_position++, &scratch);
        if (hr != S_OK) {
            FreeMediaTypeContents(&scratch);
            if (FAILED(hr))
                failure = hr;
            break;
        }
        AM_MEDIA_TYPE* const record = static_cast<AM_MEDIA_TYPE*>(::CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (record == nullptr) {
            FreeMediaTypeContents(&scratch);
            failure = E_OUTOFMEMORY;
            break;
        }
        // The format block and pUnk pass to the record handed out.
        *record = scratch;
        ppMediaTypes[fetched++] = record;
    }

    return EndNext(cMediaTypes, fetched, pcFetched, failure);
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG cMediaTypes)
{
    if (cMediaTypes == 0)
        return S_OK;
    if (IsOutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    // Far past the end is still past the end: the position stops short of overflowing.
    const LONGLONG position = static_cast<LONGLONG>(m_position) + cMediaTypes;
    m_position = position > INT_MAX ? INT_MAX : static_cast<int>(position);
    AM_MEDIA_TYPE scratch;
    InitializeMediaType(&scratch);
    const HRESULT hr = m_pin->GetMediaType(m_position - 1, &scratch);
    FreeMediaTypeContents(&scratch);
    return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset()
{
    m_position = 0;
    m_version = m_pin->GetMediaTypeVersion();
    return S_OK;
}

} // namespace stdax
