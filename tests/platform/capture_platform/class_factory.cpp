#include "class_factory.h"

namespace CapturePlatform {

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (ppv == nullptr || ::IsBadWritePtr(ppv, sizeof(*ppv)))
        return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    return COM::CreateObject(m_creator, nullptr, riid, ppv);
}

} // namespace CapturePlatform
