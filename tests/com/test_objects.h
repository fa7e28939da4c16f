#pragma once
// COM objects for the tests of the object base and the interface holder.
#include "stdax/com/unknown.h"

#include <windows.h>
#include <objidl.h>

namespace ComTest {

// A framework object with one interface of its own (IPersist). It counts how often objects of its
// kind are constructed and destroyed, and can take and drop references while being destroyed.
class CPersistObject : public COM::CUnknown, public IPersist {
public:
    static LONG s_constructed;
    static LONG s_destroyed;
    static LONG s_creatorCalls;
    // What the next Create reports through its result argument.
    static HRESULT s_constructorResult;

    explicit CPersistObject(IUnknown* outer, HRESULT* result = nullptr) : CUnknown(outer)
    {
        ++s_constructed;
        if (result != nullptr)
            *result = s_constructorResult;
    }

    ~CPersistObject() override
    {
        ++s_destroyed;
        if (m_touchInDestructor) {
            AddRef();
            Release();
        }
    }

    static COM::CUnknown* Create(IUnknown* outer, HRESULT* result)
    {
        ++s_creatorCalls;
        return new CPersistObject(outer, result);
    }

    static void ResetCounters()
    {
        s_constructed = s_destroyed = s_creatorCalls = 0;
        s_constructorResult = S_OK;
    }

    COM_FORWARD_IUNKNOWN

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv != nullptr && riid == IID_IPersist) {
            *ppv = static_cast<IPersist*>(this);
            return COM::GetInterface(static_cast<IPersist*>(this), ppv);
        }
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override
    {
        *clsid = CLSID_NULL;
        return S_OK;
    }

    IUnknown* Identity() { return NonDelegatingIdentity(); }

    bool m_touchInDestructor = false;
};

inline LONG CPersistObject::s_constructed = 0;
inline LONG CPersistObject::s_destroyed = 0;
inline LONG CPersistObject::s_creatorCalls = 0;
inline HRESULT CPersistObject::s_constructorResult = S_OK;

// An outer object that aggregates a CPersistObject and exposes its IPersist as its own. Lives on
// the stack; its count is only observed.
class COuterObject : public IUnknown {
public:
    HRESULT Aggregate()
    {
        return COM::CreateObject(&CPersistObject::Create, this, IID_IUnknown,
                                 reinterpret_cast<void**>(&m_inner));
    }

    ~COuterObject()
    {
        if (m_inner != nullptr)
            m_inner->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (riid == IID_IPersist)
            return m_inner->QueryInterface(riid, ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_references); }

    LONG m_references = 1;
    IUnknown* m_inner = nullptr; // the inner object's non-delegating unknown
};

// An IPersist that records the calls made on it; not deleted at count 0.
class CCallRecorder : public IPersist {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        ++m_queries;
        if (riid == IID_IUnknown || riid == IID_IPersist) {
            *ppv = static_cast<IPersist*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        ++m_addRefs;
        return static_cast<ULONG>(++m_references);
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ++m_releases;
        if (m_onRelease != nullptr)
            m_onRelease(m_onReleaseContext);
        return static_cast<ULONG>(--m_references);
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override
    {
        *clsid = CLSID_NULL;
        return S_OK;
    }

    LONG m_references = 1;
    int m_addRefs = 0;
    int m_releases = 0;
    int m_queries = 0;
    void (*m_onRelease)(void* context) = nullptr;
    void* m_onReleaseContext = nullptr;
};

// One page of memory with the given protection, for pointer-probe tests.
class CProtectedPage {
public:
    explicit CProtectedPage(DWORD protection)
        : m_memory(::VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
        static_cast<DWORD*>(m_memory)[0] = 0x5A5A5A5A;
        DWORD old = 0;
        ::VirtualProtect(m_memory, 4096, protection, &old);
    }
    ~CProtectedPage() { ::VirtualFree(m_memory, 0, MEM_RELEASE); }
    CProtectedPage(const CProtectedPage&) = delete;
    CProtectedPage& operator=(const CProtectedPage&) = delete;

    template <class T>
    T* As() const { return static_cast<T*>(m_memory); }

    DWORD FirstWord() const
    {
        DWORD old = 0;
        ::VirtualProtect(m_memory, 4096, PAGE_READONLY, &old);
        const DWORD value = static_cast<DWORD*>(m_memory)[0];
        ::VirtualProtect(m_memory, 4096, old, &old);
        return value;
    }

private:
    void* m_memory;
};

} // namespace ComTest
