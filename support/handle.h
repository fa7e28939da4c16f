#pragma once
// Owner of one system handle. The template names the handle type and the value that stands for "no
// handle" (0 for kernel objects, -1 for file handles: Win32::CHandle<HANDLE, -1>). The "none" value is
// given as an integer because a pointer-typed template argument cannot be written as a plain 0.
#include <windows.h>

#include "support/system_error.h"

namespace Win32 {

template <class THandle, INT_PTR NoneValue>
class CHandle {
public:
    CHandle() : m_handle(None()) {}
    explicit CHandle(THandle handle) : m_handle(handle) {}
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;

    // Closes a held handle; a failure is ignored (the handle is then left as it is).
    virtual ~CHandle()
    {
        if (IsValid())
            CHandle::Close();
    }

    // Closes the handle and forgets it. S_OK when closed, S_FALSE when no handle is held, the mapped
    // last error when CloseHandle fails (the handle is then kept).
    virtual HRESULT Close()
    {
        if (!IsValid())
            return S_FALSE;
        if (!::CloseHandle(reinterpret_cast<HANDLE>(m_handle)))
            return ResultFromLastError();
        m_handle = None();
        return S_OK;
    }

    THandle Get() const { return m_handle; }
    bool IsValid() const { return m_handle != None(); }

    // Takes over a handle (the caller closes any handle held before) / hands the handle over.
    void Attach(THandle handle) { m_handle = handle; }
    THandle Detach()
    {
        const THandle handle = m_handle;
        m_handle = None();
        return handle;
    }

    static THandle None() { return reinterpret_cast<THandle>(NoneValue); }

protected:
    THandle m_handle;
};

} // namespace Win32
