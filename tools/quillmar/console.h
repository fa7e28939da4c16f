// Output of the tool: text to stdout or stderr (UTF-16 to a console, UTF-8 to a pipe or file) and one
// status line that is rewritten in place with a carriage return.
#pragma once

#include <string>

class CConsole {
public:
    static void Out(const std::wstring& text);
    static void Err(const std::wstring& text);
    // Rewrites the status line; a shorter text blanks what the longer one left behind.
    void Status(const std::wstring& text);
    // Ends the status line (a new line) if one is shown.
    void EndStatus();

private:
    std::size_t m_statusLength = 0;
    bool m_statusShown = false;
};
