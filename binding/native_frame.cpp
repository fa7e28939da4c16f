#include "binding/native_frame.h"

#include <cstring>

bool CNativeFrame::ChangesState(const char* name, ELock lock)
{
    return lock == WithLibraryLockForChange || (name != nullptr && std::strcmp(name, "callback_MediaEvent") == 0);
}

void CNativeFrame::Unlock()
{
    if (m_locked) {
        m_locked = false;
        PinWhileGraphHeld();
        s_Lock.Leave();
    }
}

CNativeFrame::~CNativeFrame()
{
    Unlock();
    m_scope.End();
}
