#pragma once
// Which Java callback, if any, the calling thread is inside: "Stopped" on the media event thread or
// "InputLevel" on the capture graph's streaming thread. The natives ask it to refuse what would make
// such a thread wait for itself.
#include <windows.h>

namespace JNI {

enum class ECallback { None, Stopped, InputLevel };

// The callback the calling thread is inside; None on every other thread.
ECallback CurrentCallback();

// Marks the calling thread as inside the callback for the scope's lifetime.
class CCallbackScope {
public:
    explicit CCallbackScope(ECallback callback);
    ~CCallbackScope();
    CCallbackScope(const CCallbackScope&) = delete;
    CCallbackScope& operator=(const CCallbackScope&) = delete;

private:
    ECallback m_outer;
};

} // namespace JNI
