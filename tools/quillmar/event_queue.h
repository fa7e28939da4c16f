// The hand-over from the library's threads (and the console's) to the tool's main thread.
//
// The library calls "InputLevel" and "Stopped" on its delivery thread, and a Ctrl+C handler runs on a
// thread of the system: each of them only posts here and returns. The main thread takes the events and does all the work, stop and pause included.
// Levels are coalesced (a newer level replaces one not yet taken); every other event is kept, in order,
// and is taken before a pending level.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

enum class EventKind { Level, Stopped, Interrupt, Key };

struct QueuedEvent {
    EventKind kind = EventKind::Level;
    double level = 0.0;     // Level: the input level, 0.0 to 1.0
    int reason = 0;         // Stopped: 0 at the end of the stream, 1 when the device was lost
    wchar_t key = 0;        // Key: the character typed ('\r' for Enter)
};

class CEventQueue {
public:
    void PostLevel(double level);
    void PostStopped(int reason);
    void PostInterrupt();
    void PostKey(wchar_t key);

    // Takes the next event, waiting up to timeoutMs milliseconds; false when none came in time.
    bool Take(QueuedEvent& event, unsigned timeoutMs);
    // How many levels were posted, coalesced ones included.
    unsigned long LevelsPosted() const;

private:
    void Post(const QueuedEvent& event);

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<QueuedEvent> m_events;
    bool m_levelPending = false;
    double m_level = 0.0;
    unsigned long m_levelsPosted = 0;
};
