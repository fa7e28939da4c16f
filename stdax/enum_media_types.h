#pragma once
// stdax::CEnumMediaTypes: the media type enumerator that CBasePin::EnumMediaTypes hands out.
//
// It walks the pin's GetMediaType positions and hands out each type as a record of its own
// (allocated with CoTaskMemAlloc; the receiver deletes it). It holds a reference on the pin, which
// keeps the pin's filter alive, and reports VFW_E_ENUM_OUT_OF_SYNC once the pin's media type
// version has moved on from the one it started with. Allocated from the free store; interlocked
// reference count; otherwise used by one thread at a time.
#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

namespace stdax {

class CBasePin;

class CEnumMediaTypes : public IEnumMediaTypes {
public:
    // Builds an enumerator with one reference on pin, a copy of source (position and version) or,
    // without source, a walk from the first type. Returns null when out of memory.
    static CEnumMediaTypes* Create(CBasePin* pin, const CEnumMediaTypes* source);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG cMediaTypes) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** ppEnum) override;

    virtual ~CEnumMediaTypes();

private:
    explicit CEnumMediaTypes(CBasePin* pin);
    bool IsOutOfSync() const;

    int m_position;
    CBasePin* const m_pin;
    LONG m_version;
    volatile LONG m_references;
};

} // namespace stdax
