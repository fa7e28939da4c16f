#include "stdax/com/unknown.h"

#include "stdax/com/pointer_probes.h"

namespace COM {

namespace {

// A reference count as returned by AddRef/Release of a live object: never below 1.
ULONG AtLeastOne(LONG count)
{
    const ULONG value = static_cast<ULONG>(count);
    return value < 1 ? 1 : value;
}

// The creator's code must be readable (an executable address in practice); a stray value in a
// class table must not be called.
bool IsBadCreator(ObjectCreator creator)
{
    return ::IsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(creator))) != FALSE;
}

} // namespace

CUnknown::CUnknown(IUnknown* outer)
    : m_owner(outer != nullptr ? outer : NonDelegatingIdentity()), m_references(0)
{
}

IUnknown* CUnknown::NonDelegatingIdentity()
{
    // INonDelegatingUnknown has IUnknown's three slots in IUnknown's order.
    return reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this));
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (IsBadOutPointer(ppv))
        return E_POINTER;
    if (riid == IID_IUnknown) {
        *ppv = NonDelegatingIdentity();
        return GetInterface(NonDelegatingIdentity(), ppv);
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef()
{
    return AtLeastOne(::InterlockedIncrement(&m_references));
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease()
{
    // Only the value the decrement produced may be used: once it is not ours, another thread's
    // Release may delete the object at any moment.
    const LONG remaining = ::InterlockedDecrement(&m_references);
    if (remaining != 0)
        return AtLeastOne(remaining);
    // References taken and dropped by the destructor must not bring the count to 0 again.
    m_references = 1;
    delete static_cast<CBaseObject*>(this);
    return 0;
}

HRESULT GetInterface(IUnknown* unknown, void** ppv)
{
    if (IsBadInterface(unknown))
        return E_POINTER;
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

HRESULT CreateObject(ObjectCreator creator, IUnknown* outer, REFIID riid, void** ppv)
{
    HRESULT result = S_OK;
    if (creator == nullptr)
        return E_POINTER;
    if (IsBadCreator(creator))
        return HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION);
    if (outer != nullptr && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;

    CUnknown* const object = creator(outer, &result);
    if (object == nullptr)
        return E_OUTOFMEMORY;
    if (FAILED(result)) {
        delete static_cast<CBaseObject*>(object);
        return result;
    }

    // The lookup takes the caller's reference; the Release then deletes the object when the
    // lookup failed.
    object->NonDelegatingAddRef();
    result = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return result;
}

} // namespace COM
