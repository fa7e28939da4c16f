// What record and play share while a session runs: the test hook that raises Ctrl+C after the status
// line was drawn a given number of times, file paths and sizes.
#pragma once

#include <string>

// Raises a Ctrl+C (CUserInput::RaiseCtrlC) once the status line has been drawn the number of times
// given in the environment variable QUILLMAR_TEST_CTRL_C_AFTER; without the variable it does nothing.
// Lets tests stop a session the way a user's Ctrl+C does, at a point that does not depend on timing.
class CInterruptHook {
public:
    CInterruptHook();
    void StatusDrawn();

private:
    unsigned long m_after = 0;
    unsigned long m_drawn = 0;
};

std::wstring FullPath(const std::wstring& path);
// -1 when the file cannot be read.
long long FileSize(const std::wstring& path);
