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
    if (SUCCEEDED(hr))
        m_initialised = true;
    return hr;
}

HRESULT CComInit::Uninitialise()
{
    if (!m_initialised)
        return S_FALSE;
    ::CoUninitialize();
    m_initialised = false;
    return S_OK;
}
