#pragma once
// Reference counting, interface lookup and aggregation for the library's COM objects.
//
// A class built on CUnknown lists its COM interfaces as further bases, puts COM_FORWARD_IUNKNOWN in
// its body, and overrides NonDelegatingQueryInterface to answer its own interface identifiers before
// falling back to CUnknown's (which answers IID_IUnknown):
//
//     class CFilter : public COM::CUnknown, public IBaseFilter, public IAMovieSetup {
//     public:
//         COM_FORWARD_IUNKNOWN
//         HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override
//         {
//             if (COM::IsBadOutPointer(ppv)) return E_POINTER;   // stdax/com/pointer_probes.h
//             if (riid == IID_IBaseFilter) {
//                 *ppv = static_cast<IBaseFilter*>(this);
//                 return COM::GetInterface(static_cast<IBaseFilter*>(this), ppv);
//             }
//             return CUnknown::NonDelegatingQueryInterface(riid, ppv);
//         }
//     };
//
// Every interface's QueryInterface/AddRef/Release then goes to the owner: the outer object when
// aggregated, otherwise this object's own non-delegating unknown. Only the non-delegating unknown
// reaches this object's own count, so an aggregated object shows the outer object's identity.
#include "stdax/com/base_object.h"

#include <windows.h>
#include <unknwn.h>

namespace COM {

// The unknown that an aggregating outer object holds on its inner object. Same slot layout as
// IUnknown, so a pointer to it can be handed out as the inner object's IUnknown.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // outer: the controlling unknown when aggregated, or null. Not reference-counted: the outer
    // object outlives this one.
    explicit CUnknown(IUnknown* outer);

    // The controlling unknown: the outer object, or this object's non-delegating unknown.
    IUnknown* GetOwner() const { return m_owner; }

    // Answers IID_IUnknown with the non-delegating unknown; anything else: null and E_NOINTERFACE.
    // ppv must be null-free, readable and writable (E_POINTER otherwise; nothing written).
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // Return the new count, at least 1 (informative only).
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    // Deletes the object when the count reaches 0 and returns 0 then; otherwise the new count,
    // at least 1.
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

protected:
    // This object's non-delegating unknown seen as an IUnknown.
    IUnknown* NonDelegatingIdentity();

private:
    IUnknown* const m_owner;
    volatile LONG m_references;
};

// Completes a successful lookup: the caller has stored the interface pointer in *ppv; this adds the
// reference through *ppv. E_POINTER when the interface pointer is null or unreadable.
HRESULT GetInterface(IUnknown* unknown, void** ppv);

// Builds one object for CreateObject. Returns null when out of memory; a constructor that fails
// stores its failure in *result (which holds S_OK on entry) and still returns the object.
using ObjectCreator = CUnknown* (*)(IUnknown* outer, HRESULT* result);

// How a constructor hands its result out: stored in *result when result is given.
inline void ReportResult(HRESULT* result, HRESULT hr)
{
    if (result != nullptr)
        *result = hr;
}

// Creates an object with creator and hands out its riid interface in *ppv, by the COM creation
// rules: aggregation only for IID_IUnknown (CLASS_E_NOAGGREGATION otherwise), E_OUTOFMEMORY when
// the creator returns null, the creator's own failure (object deleted, ppv untouched), else the
// result of the lookup (object deleted when it fails). E_POINTER for a null creator, 0x80070001
// for one that is not executable code.
HRESULT CreateObject(ObjectCreator creator, IUnknown* outer, REFIID riid, void** ppv);

} // namespace COM

// In the body of a class built on COM::CUnknown: QueryInterface, AddRef and Release of every COM
// interface the class implements go to the owner.
#define COM_FORWARD_IUNKNOWN                                                                       \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override                    \
    {                                                                                              \
        return GetOwner()->QueryInterface(riid, ppv);                                              \
    }                                                                                              \
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }                     \
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
