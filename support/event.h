#pragma once
// An unnamed event object.
#include <windows.h>

#include "support/sync_handle.h"

namespace Synchronization {

class CEvent : public CHandle {
public:
    // Creates a non-signalled event, manual-reset or auto-reset. E_UNEXPECTED while one is held.
    HRESULT Create(bool manualReset);
    HRESULT Set();
    HRESULT Reset();
    bool ManualReset() const { return m_manualReset != 0; }

private:
    LONG m_manualReset = 0;
};

} // namespace Synchronization
