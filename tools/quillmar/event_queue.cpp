#include "quillmar/event_queue.h"

#include <chrono>

void CEventQueue::PostLevel(double level)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_level = level;
        m_levelPending = true;
        ++m_levelsPosted;
    }
    m_changed.notify_all();
}

void CEventQueue::PostStopped(int reason)
{
    QueuedEvent event;
    event.kind = EventKind::Stopped;
    event.reason = reason;
    Post(event);
}

void CEventQueue::PostInterrupt()
{
    QueuedEvent event;
    event.kind = EventKind::Interrupt;
    Post(event);
}

void CEventQueue::PostKey(wchar_t key)
{
    QueuedEvent event;
    event.kind = EventKind::Key;
    event.key = key;
    Post(event);
}

void CEventQueue::Post(const QueuedEvent& event)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.push_back(event);
    }
    m_changed.notify_all();
}

bool CEventQueue::Take(QueuedEvent& event, unsigned timeoutMs)
{
    std::unique_lock<std::mutex> guard(m_lock);
    const bool ready = m_changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                          [this] { return !m_events.empty() || m_levelPending; });
    if (!ready)
        return false;
    if (!m_events.empty()) {
        event = m_events.front();
        m_events.pop_front();
        return true;
    }
    event = QueuedEvent();
    event.kind = EventKind::Level;
    event.level = m_level;
    m_levelPending = false;
    return true;
}

unsigned long CEventQueue::LevelsPosted() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_levelsPosted;
}
