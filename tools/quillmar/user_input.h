// What the user does while a recording or playback runs: keys typed on standard input and Ctrl+C (or
// Ctrl+Break, or closing the console window). Both only post events to the queue; the main thread acts.
//
// Keys come from a reader thread: from a console one key at a time (no line editing or echo; Ctrl+C
// still reaches the handler), from a pipe or file byte by byte, a line end counting as Enter. The end
// of a redirected input is not a key.
#pragma once

#include "quillmar/event_queue.h"

#include <memory>

class CUserInput {
public:
    explicit CUserInput(CEventQueue& queue);
    // Removes the handler, restores the console's input mode and disconnects the reader thread (which
    // may stay blocked in its read until the process ends).
    ~CUserInput();
    CUserInput(const CUserInput&) = delete;
    CUserInput& operator=(const CUserInput&) = delete;

    // Delivers a Ctrl+C as the user's would arrive: through the console when the process has one,
    // otherwise by calling the handler on a new thread, as the system does.
    static void RaiseCtrlC();

    struct CShared;

private:
    std::shared_ptr<CShared> m_shared;
};
