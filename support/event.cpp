#include "support/event.h"

#include "support/system_error.h"

namespace Synchronization {

HRESULT CEvent::Create(bool manualReset)
{
    if (IsValid())
        return E_UNEXPECTED;
    const HANDLE event = ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
    if (!event)
        return Win32::ResultFromLastError();
    m_handle = event;
    m_manualReset = manualReset ? 1 : 0;
    return S_OK;
}

HRESULT CEvent::Set()
{
    if (!::SetEvent(m_handle))
        return Win32::ResultFromLastError();
    return S_OK;
}

HRESULT CEvent::Reset()
{
    if (!::ResetEvent(m_handle))
        return Win32::ResultFromLastError();
    return S_OK;
}

} // namespace Synchronization
