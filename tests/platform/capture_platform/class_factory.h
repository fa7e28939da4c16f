#pragma once
// CClassFactory: the class object of one class of this module, creating its objects through a
// creation function (no aggregation). Class objects are static and never counted: the module stays
// loaded.
#include "stdax/com/unknown.h"

#include <windows.h>
#include <unknwn.h>

namespace CapturePlatform {

class CClassFactory : public IClassFactory {
public:
    CClassFactory(const CLSID* clsid, COM::ObjectCreator creator) : m_clsid(clsid), m_creator(creator) {}

    const CLSID& ClassId() const { return *m_clsid; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    const CLSID* const m_clsid;
    const COM::ObjectCreator m_creator;
};

} // namespace CapturePlatform
