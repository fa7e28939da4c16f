#include "support/sync_handle.h"

#include "support/system_error.h"

namespace Synchronization {

HRESULT CHandle::Wait(DWORD milliseconds) const
{
    switch (::WaitForSingleObject(m_handle, milliseconds)) {
    case WAIT_OBJECT_0:
        return S_OK;
    case WAIT_TIMEOUT:
        return S_FALSE;
    case WAIT_FAILED:
        return Win32::ResultFromLastError();
    default:
        return E_UNEXPECTED;
    }
}

HRESULT CHandle::Test() const
{
    return Wait(0);
}

} // namespace Synchronization
