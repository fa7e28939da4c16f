#include "support/com_init.h"

#include <objbase.h>

CComInit::~CComInit()
{
    Uninitialise();
}

HRESULT CComInit::Initialise()
{
    if (m_initialised)
        return E_UNEXPECTED;
    const HRESULT hr = ::CoInitialize(nullptr);
    // RPC_E_CHANGED_MODE: the thread's owner put it in the multithreaded apartment, where COM is
    // usable as it is. That initialisation is the owner's to release, not ours.
    if (hr == RPC_E_CHANGED_MODE) {
        m_initialised = true;
        m_owned = false;
        return S_FALSE;
    }
    if (SUCCEEDED(hr)) {
        m_initialised = true;
        m_owned = true;
    }
    return hr;
}

HRESULT CComInit::Uninitialise()
{
    if (!m_initialised)
        return S_FALSE;
    if (m_owned)
        ::CoUninitialize();
    m_initialised = false;
    m_owned = false;
    return S_OK;
}
