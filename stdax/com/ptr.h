#pragma once
// COM::TPtr<I>: the owning holder of one interface pointer.
//
// When p is set the holder owns exactly one reference to it. p itself is public so that the held
// pointer can be read (and passed on) without touching the count; &holder yields &p for a call
// that fills an out-parameter (CoCreateInstance, QueryInterface, EnumMediaTypes ...). The address
// of the holder itself is std::addressof(holder).
//
// IsNull, IsValid and the destructor are virtual so that wrapper classes of platform objects can
// derive from a holder and add their own operations.
//
// Not thread-safe: each holder belongs to one object and is guarded by that object's lock.
#include <windows.h>
#include <unknwn.h>

#include <memory>

namespace COM {

template <class I>
class TPtr {
public:
    // Returned by Release() on an empty holder: nothing was released.
    static constexpr ULONG EmptyRelease = 0xBAD;

    TPtr() noexcept : p(nullptr) {}

    TPtr(I* raw) : p(raw)
    {
        if (p != nullptr)
            p->AddRef();
    }

    TPtr(const TPtr& other) : TPtr(other.p) {}

    TPtr(TPtr&& other) noexcept : p(other.p) { other.p = nullptr; }

    virtual ~TPtr()
    {
        if (p != nullptr) {
            I* const old = p;
            p = nullptr;
            old->Release();
        }
    }

    TPtr& operator=(const TPtr& other) { return Assign(other.p); }
    TPtr& operator=(I* raw) { return Assign(raw); }

    TPtr& operator=(TPtr&& other) noexcept
    {
        if (this != std::addressof(other)) {
            I* const old = p;
            p = other.p;
            other.p = nullptr;
            if (old != nullptr)
                old->Release();
        }
        return *this;
    }

    virtual bool IsNull() const { return p == nullptr; }
    virtual bool IsValid() const { return p != nullptr; }

    // Empties the holder and returns what the interface's Release returned, or EmptyRelease (0xBAD)
    // when the holder was empty.
    ULONG Release()
    {
        if (p == nullptr)
            return EmptyRelease;
        I* const old = p;
        p = nullptr;
        return old->Release();
    }

    operator I*() const { return p; }
    I* operator->() const { return p; }

    // The address of p, for a call that stores a new reference there. The holder should be empty;
    // a reference it still holds is released first so that it cannot leak when p is overwritten.
    I** operator&()
    {
        Release();
        return &p;
    }

    // The held interface's QueryInterface; E_UNEXPECTED when the holder is empty.
    HRESULT QueryInterface(REFIID riid, void** ppv) const
    {
        if (p == nullptr)
            return E_UNEXPECTED;
        return p->QueryInterface(riid, ppv);
    }

    // Stores the held pointer (possibly null) in *out with a reference of its own.
    // E_POINTER when out is null or not writable.
    HRESULT CopyTo(I** out) const
    {
        if (out == nullptr || ::IsBadWritePtr(out, sizeof(I*)))
            return E_POINTER;
        *out = p;
        if (p != nullptr)
            p->AddRef();
        return S_OK;
    }

    I* p;

private:
    // Takes the new reference before dropping the old one, so that a pointer kept alive only by
    // the old object stays valid.
    TPtr& Assign(I* raw)
    {
        if (raw == p)
            return *this;
        if (raw != nullptr)
            raw->AddRef();
        I* const old = p;
        p = raw;
        if (old != nullptr)
            old->Release();
        return *this;
    }
};

} // namespace COM
