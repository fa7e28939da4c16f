#pragma once
// Reads a trace log file back for tests: checks the encoding and the fixed columns of every line and
// hands out each line's thread id, indentation and message.
#include <windows.h>

#include <string>
#include <vector>

namespace TestTrace {

struct Line {
    DWORD threadId = 0;
    bool negativeTime = false;
    int hours = 0, minutes = 0, seconds = 0, fraction = 0;  // fraction in 100 ns
    int indent = 0;              // blanks before the message
    std::wstring message;
};

struct Log {
    bool opened = false;         // the file could be read
    std::vector<std::string> problems;  // lines that do not have the expected shape, BOM, odd length...
    std::vector<Line> lines;

    std::vector<std::wstring> Messages() const;
    // Messages of one thread, in order.
    std::vector<std::wstring> MessagesOf(DWORD threadId) const;
};

// Reads a UTF-16LE log (no byte-order mark, CRLF line ends) and parses every line.
Log ReadLog(const std::wstring& path);

// A pointer as the trace prints it: "0x%08X", on 64-bit all 16 digits.
std::wstring Hex(const void* pointer);

// UTF-8 for messages in test output.
std::string Narrow(const std::wstring& text);

} // namespace TestTrace
