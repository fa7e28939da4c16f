#pragma once
// Shared pieces of the graph tests: the tone files, COM on the test thread, reading the main log.
#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

namespace GraphTest {

// 2.0 s of a 440 Hz tone, made on the Linux side.
inline const std::wstring kToneWav = TEST_DATA_DIR L"/tone-2s.wav";

// COM for the test thread, for as long as the object lives.
class CComThread {
public:
    CComThread() { ::CoInitialize(nullptr); }
    ~CComThread() { ::CoUninitialize(); }
};

// The messages of the test program's main log written from line `from` on.
std::vector<std::wstring> MainLogSince(size_t from);
size_t MainLogLineCount();

// Waits (generously) until the condition holds; false when it never did.
template <class Condition>
bool WaitFor(Condition condition, DWORD milliseconds = 10000)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 10) {
        if (condition())
            return true;
        ::Sleep(10);
    }
    return condition();
}

} // namespace GraphTest
