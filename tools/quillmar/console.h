// Output of the tool: text to stdout or stderr (UTF-16 to a console, UTF-8 to a pipe or file) and one
// live status line on stderr, rewritten in place with a carriage return. The status line is shown only
// when stderr is a console and the user did not ask for quiet; redirected output never holds it.
#pragma once

#include <string>

class CConsole {
public:
    explicit CConsole(bool quiet);

    static void Out(const std::wstring& text);
    static void Err(const std::wstring& text);
    // True when the standard handle (STD_OUTPUT_HANDLE or STD_ERROR_HANDLE) is a console.
    static bool IsConsole(unsigned long which);

    // True when the status line is shown.
    bool Live() const { return m_live; }
    // A note for the user on stderr (the banner of a command); nothing when quiet.
    void Note(const std::wstring& text) const;
    // Rewrites the status line; a shorter text blanks what the longer one left behind.
    void Status(const std::wstring& text);
    // Ends the status line (a new line) if one is shown.
    void EndStatus();

private:
    bool m_quiet;
    bool m_live;
    std::size_t m_statusLength = 0;
    bool m_statusShown = false;
};
