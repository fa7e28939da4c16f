#pragma once
// stdax::CEnumMediaTypes: the media type enumerator that CBasePin::EnumMediaTypes hands out.
//
// It walks the pin's GetMediaType positions and hands out each type as a record of its own
// (allocated with CoTaskMemAlloc; the receiver deletes it). It holds a reference on the pin, which
// keeps the pin's filter alive, and reports VFW_E_ENUM_OUT_OF_SYNC once the pin's media type
// version has moved on from the one it started with. Its COM frame is TEnumerator's; one thread at
// a time uses it.
#include "stdax/enumerator.h"

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

namespace stdax {

class CBasePin;

class CEnumMediaTypes : public TEnumerator<CEnumMediaTypes, IEnumMediaTypes, IID_IEnumMediaTypes> {
public:
    // Builds an enumerator with one reference on pin, a copy of source (position and version) or,
    // without source, a walk from the first type. Returns null when out of memory.
    static CEnumMediaTypes* Create(CBasePin* pin, const CEnumMediaTypes* source);

    HRESULT STDMETHODCALLTYPE Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG cMediaTypes) override;
    HRESULT STDMETHODCALLTYPE Reset() override;

    virtual ~CEnumMediaTypes();

private:
    friend class TEnumerator<CEnumMediaTypes, IEnumMediaTypes, IID_IEnumMediaTypes>;

    explicit CEnumMediaTypes(CBasePin* pin);
    bool IsOutOfSync() const;
    CEnumMediaTypes* Copy() const;

    int m_position;
    CBasePin* const m_pin;
    LONG m_version;
};

} // namespace stdax
