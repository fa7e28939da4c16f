#pragma once
// A critical section and the scoped holder that enters and leaves it. The owning thread may enter again
// (the platform's rule); other threads wait.
#include <windows.h>

namespace Synchronization {

class CCriticalSection {
public:
    CCriticalSection() { ::InitializeCriticalSection(&m_section); }
    ~CCriticalSection() { ::DeleteCriticalSection(&m_section); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter() { ::EnterCriticalSection(&m_section); }
    void Leave() { ::LeaveCriticalSection(&m_section); }
    CRITICAL_SECTION* Get() { return &m_section; }

private:
    CRITICAL_SECTION m_section;
};

// Enters the given critical section for its own lifetime; a null pointer means no lock at all.
class CAutoLock {
public:
    explicit CAutoLock(CCriticalSection* lock) : m_lock(lock)
    {
        if (m_lock)
            m_lock->Enter();
    }
    ~CAutoLock()
    {
        if (m_lock)
            m_lock->Leave();
    }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCriticalSection* m_lock;
};

} // namespace Synchronization
