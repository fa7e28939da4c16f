#include "binding/native_frame.h"

#include "binding/callback_thread.h"

namespace {

// Set while the holder of the library lock changes state and so may wait for a callback thread.
volatile LONG s_HolderChangesState = 0;

// The library lock for a callback thread: waited for while a query holds it, refused at once while
// a state change holds it, and refused after CallbackLockTimeout in any case.
bool EnterFromCallback()
{
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (::TryEnterCriticalSection(s_Lock.Get()))
            return true;
        if (::InterlockedCompareExchange(&s_HolderChangesState, 0, 0) != 0)
            return false;
        if (::GetTickCount() - start >= CallbackLockTimeout)
            return false;
        ::Sleep(1);
    }
}

} // namespace

bool CNativeFrame::Acquire(ELock lock)
{
    if (lock == WithoutLock)
        return true;
    const JNI::ECallback callback = JNI::CurrentCallback();
    const bool forChange = lock != WithLibraryLock;
    if (callback == JNI::ECallback::None) {
        s_Lock.Enter();
    } else {
        if (lock == OutsideCallbacks || (forChange && callback == JNI::ECallback::InputLevel) ||
            !EnterFromCallback()) {
            m_refused = true;
            return false;
        }
    }
    m_locked = true;
    if (forChange) {
        m_forChange = ::InterlockedExchange(&s_HolderChangesState, 1) == 0;
    }
    return true;
}

CNativeFrame::~CNativeFrame()
{
    if (m_forChange)
        ::InterlockedExchange(&s_HolderChangesState, 0);
    if (m_locked)
        s_Lock.Leave();
    m_scope.End();
}
