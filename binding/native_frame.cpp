#include "binding/native_frame.h"

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
