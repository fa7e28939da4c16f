#include "quillmar/user_input.h"

#include <windows.h>

#include <mutex>

struct CUserInput::CShared {
    std::mutex lock;
    CEventQueue* queue = nullptr;       // null once the owner is gone
    HANDLE finished = nullptr;          // set when the owner is gone (a close event waits for it)
    HANDLE input = nullptr;
    DWORD savedMode = 0;
    bool console = false;

    void Post(EventKind kind, wchar_t key)
    {
        std::lock_guard<std::mutex> guard(lock);
        if (queue == nullptr)
            return;
        if (kind == EventKind::Key)
            queue->PostKey(key);
        else
            queue->PostInterrupt();
    }
};

namespace {

// The handler routine has no context argument: it reaches the current owner through this.
std::mutex s_handlerLock;
std::shared_ptr<CUserInput::CShared> s_handlerTarget;

BOOL WINAPI CtrlHandler(DWORD type)
{
    std::shared_ptr<CUserInput::CShared> target;
    {
        std::lock_guard<std::mutex> guard(s_handlerLock);
        target = s_handlerTarget;
    }
    if (!target)
        return FALSE;
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        target->Post(EventKind::Interrupt, 0);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns: give the main thread time to stop and close the file.
        target->Post(EventKind::Interrupt, 0);
        ::WaitForSingleObject(target->finished, 5000);
        return TRUE;
    default:
        return FALSE;
    }
}

// A console's arrow key as the tool's code; 0 for any other key without a character.
wchar_t ArrowKey(WORD virtualKey)
{
    switch (virtualKey) {
    case VK_UP:
        return kKeyUp;
    case VK_DOWN:
        return kKeyDown;
    case VK_RIGHT:
        return kKeyRight;
    case VK_LEFT:
        return kKeyLeft;
    default:
        return 0;
    }
}

DWORD WINAPI ReadKeys(void* parameter)
{
    auto* holder = static_cast<std::shared_ptr<CUserInput::CShared>*>(parameter);
    std::shared_ptr<CUserInput::CShared> shared = *holder;
    delete holder;
    CKeyDecoder decoder;
    for (;;) {
        if (shared->console) {
            INPUT_RECORD record;
            DWORD count = 0;
            if (!::ReadConsoleInputW(shared->input, &record, 1, &count))
                return 0;
            if (count == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
                const wchar_t key = record.Event.KeyEvent.uChar.UnicodeChar != 0
                                        ? record.Event.KeyEvent.uChar.UnicodeChar
                                        : ArrowKey(record.Event.KeyEvent.wVirtualKeyCode);
                if (key != 0)
                    shared->Post(EventKind::Key, key);
            }
        } else {
            char byte = 0;
            DWORD count = 0;
            if (!::ReadFile(shared->input, &byte, 1, &count, nullptr) || count == 0)
                return 0;
            wchar_t key = 0;
            if (decoder.Feed(static_cast<unsigned char>(byte), key))
                shared->Post(EventKind::Key, key);
        }
        std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->queue == nullptr)
            return 0;
    }
}

DWORD WINAPI DeliverCtrlC(void*)
{
    return CtrlHandler(CTRL_C_EVENT) ? 0 : 1;
}

}  // namespace

CUserInput::CUserInput(CEventQueue& queue) : m_shared(std::make_shared<CShared>())
{
    m_shared->queue = &queue;
    m_shared->finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        std::lock_guard<std::mutex> guard(s_handlerLock);
        s_handlerTarget = m_shared;
    }
    ::SetConsoleCtrlHandler(CtrlHandler, TRUE);

    HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE)
        return;
    m_shared->input = input;
    if (::GetConsoleMode(input, &m_shared->savedMode)) {
        m_shared->console = true;
        ::SetConsoleMode(input, ENABLE_PROCESSED_INPUT);
    } else if (::GetFileType(input) == FILE_TYPE_UNKNOWN) {
        return;
    }
    auto* holder = new std::shared_ptr<CShared>(m_shared);
    HANDLE thread = ::CreateThread(nullptr, 0, ReadKeys, holder, 0, nullptr);
    if (thread == nullptr)
        delete holder;
    else
        ::CloseHandle(thread);
}

CUserInput::~CUserInput()
{
    {
        std::lock_guard<std::mutex> guard(s_handlerLock);
        if (s_handlerTarget == m_shared)
            s_handlerTarget.reset();
    }
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->queue = nullptr;
    }
    if (m_shared->console)
        ::SetConsoleMode(m_shared->input, m_shared->savedMode);
    ::SetEvent(m_shared->finished);
    // The handler stays installed (returning FALSE without an owner), so that a late Ctrl+C finds the
    // routine; the event handle ends with the process, as a close handler may still be waiting on it.
}

void CUserInput::RaiseCtrlC()
{
    DWORD mode = 0;
    if (::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) && ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        return;
    HANDLE thread = ::CreateThread(nullptr, 0, DeliverCtrlC, nullptr, 0, nullptr);
    if (thread != nullptr)
        ::CloseHandle(thread);
}

bool CKeyDecoder::Feed(unsigned char byte, wchar_t& key)
{
    if (m_state == 1) {
        m_state = byte == '[' || byte == 'O' ? 2 : 0;
        return false;
    }
    if (m_state == 2) {
        m_state = 0;
        static const wchar_t arrows[] = {kKeyUp, kKeyDown, kKeyRight, kKeyLeft};
        if (byte < 'A' || byte > 'D')
            return false;
        key = arrows[byte - 'A'];
        return true;
    }
    if (byte == 0x1B) {
        m_state = 1;
        return false;
    }
    key = byte == '\n' ? L'\r' : static_cast<wchar_t>(byte);
    return true;
}
