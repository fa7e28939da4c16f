// What the user does while a recording or playback runs: keys typed on standard input and Ctrl+C (or
// Ctrl+Break, or closing the console window). Both only post events to the queue; the main thread acts.
//
// Keys come from a reader thread: from a console one key at a time (no line editing or echo; Ctrl+C
// still reaches the handler), from a pipe or file byte by byte, a line end counting as Enter. The end
// of a redirected input is not a key. The arrow keys arrive as the codes below: from a console as its
// virtual keys, from a pipe as the escape sequences a terminal sends for them (ESC [ A ... ESC [ D, or
// ESC O A ...).
#pragma once

#include "quillmar/event_queue.h"

#include <memory>

// The arrow keys, posted as characters of the private use area.
constexpr wchar_t kKeyUp = 0xE000;
constexpr wchar_t kKeyDown = 0xE001;
constexpr wchar_t kKeyRight = 0xE002;
constexpr wchar_t kKeyLeft = 0xE003;

// Turns the bytes of a redirected input into keys: the terminal's arrow sequences into the codes above,
// a line end into Enter ('\r'), every other byte into itself. An escape that starts no arrow sequence is
// dropped with the sequence's bytes.
class CKeyDecoder {
public:
    // True with the key when the byte completes one.
    bool Feed(unsigned char byte, wchar_t& key);

private:
    int m_state = 0;    // 0: plain; 1: after ESC; 2: after ESC [ or ESC O
};

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
