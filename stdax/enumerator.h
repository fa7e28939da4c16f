#pragma once
// stdax::TEnumerator: the frame that the framework's enumerators (CEnumPins, CEnumMediaTypes) share:
// their own IUnknown (not CUnknown's; they are allocated from the free store), with an interlocked
// reference count that starts at 1 and deletes the enumerator when it reaches 0, Clone, and the
// argument and result rules of Next.
//
// Derived is the enumerator class itself, built as
//     class CEnumPins : public TEnumerator<CEnumPins, IEnumPins, IID_IEnumPins>
// and supplies, for the frame's use (the frame is a friend):
//     bool IsOutOfSync() const;   // its snapshot no longer matches its filter's or pin's version
//     Derived* Copy() const;      // a new enumerator in the same place with one reference, or null
// Its destructor is virtual and comes after the interface's methods in its table.
#include "stdax/com/pointer_probes.h"

#include <windows.h>
#include <unknwn.h>
#include <vfwmsgs.h>

namespace stdax {

template <class Derived, class IEnum, const IID& EnumIid>
class TEnumerator : public IEnum {
public:
    // EnumIid or IID_IUnknown: this enumerator with one more reference.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (COM::IsBadOutPointer(ppv))
            return E_POINTER;
        if (riid == EnumIid || riid == IID_IUnknown) {
            *ppv = static_cast<IEnum*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(::InterlockedIncrement(&m_references));
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG remaining = ::InterlockedDecrement(&m_references);
        if (remaining == 0)
            delete static_cast<Derived*>(this);
        return static_cast<ULONG>(remaining);
    }

    // A copy that goes on from where this one is; VFW_E_ENUM_OUT_OF_SYNC once this one is out of
    // date. *ppEnum is null unless the result is S_OK.
    HRESULT STDMETHODCALLTYPE Clone(IEnum** ppEnum) override
    {
        if (COM::IsBadOutPointer(ppEnum))
            return E_POINTER;
        *ppEnum = nullptr;
        const Derived* const self = static_cast<const Derived*>(this);
        if (self->IsOutOfSync())
            return VFW_E_ENUM_OUT_OF_SYNC;
        *ppEnum = self->Copy();
        return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
    }

protected:
    TEnumerator() : m_references(1) {}
    ~TEnumerator() = default;

    TEnumerator(const TEnumerator&) = delete;
    TEnumerator& operator=(const TEnumerator&) = delete;

    // The start of Next: the fetched count, when asked for, is set to 0; without it only one item
    // may be asked for. E_POINTER for a count that cannot be written, E_INVALIDARG for more than one
    // item without a count, otherwise S_OK.
    static HRESULT BeginNext(ULONG requested, ULONG* pcFetched)
    {
        if (pcFetched != nullptr) {
            if (::IsBadWritePtr(pcFetched, sizeof(*pcFetched)))
                return E_POINTER;
            *pcFetched = 0;
        } else if (requested > 1) {
            return E_INVALIDARG;
        }
        return S_OK;
    }

    // The end of Next: the fetched count is handed out; the result is the walk's failure if it had
    // one, otherwise S_OK when every requested item was fetched and S_FALSE when fewer were.
    static HRESULT EndNext(ULONG requested, ULONG fetched, ULONG* pcFetched, HRESULT failure)
    {
        if (pcFetched != nullptr)
            *pcFetched = fetched;
        if (FAILED(failure))
            return failure;
        return fetched == requested ? S_OK : S_FALSE;
    }

private:
    volatile LONG m_references;
};

} // namespace stdax
