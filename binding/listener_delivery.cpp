#include "binding/listener_delivery.h"

#include <vfwmsgs.h>

#include "support/library_logs.h"
#include "support/system_error.h"
#include "support/trace_log.h"

#include <algorithm>
#include <deque>
#include <new>

namespace JNI {
namespace {

// One piece of news for the listener.
struct SNews {
    bool level = false;
    double value = 0.0;
    long code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    LONG stream = 0;
    bool delayed = false;
    DWORD due = 0;  // when delayed: the tick count from which it may be delivered
};

// How often an idle delivery thread looks at its state without being woken (it is woken for every
// piece of news and for Close; this only bounds the wait).
constexpr DWORD kIdleWait = 1000; // milliseconds

} // namespace

// One delivery: the listener's Java references, the news not yet delivered and the thread. Owned by
// the library (until Close) and by its thread (until the thread ends); the last owner frees it, and
// with it the Java references.
class CListenerDelivery::CContext {
public:
    CContext(EventReceiver events, LevelReceiver levels, StreamPump pump)
        : m_events(events), m_levels(levels), m_pump(pump)
    {
    }
    ~CContext()
    {
        if (m_thread != nullptr)
            ::CloseHandle(m_thread);
        if (m_wake != nullptr)
            ::CloseHandle(m_wake);
        if (m_returned != nullptr)
            ::CloseHandle(m_returned);
        // The listener's destructors delete the global references.
    }
    CContext(const CContext&) = delete;
    CContext& operator=(const CContext&) = delete;

    void AddRef() { ::InterlockedIncrement(&m_references); }
    void Release()
    {
        if (::InterlockedDecrement(&m_references) == 0)
            delete this;
    }

    SListener& Listener() { return m_listener; }

    HRESULT StartThread()
    {
        m_wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (m_wake == nullptr)
            return Win32::ResultFromLastError();
        m_returned = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
        if (m_returned == nullptr)
            return Win32::ResultFromLastError();
        // The thread's own reference on the module: an unload waits until the thread has ended.
        HMODULE module = nullptr;
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                  reinterpret_cast<const wchar_t*>(reinterpret_cast<void*>(&Routine)), &module))
            return Win32::ResultFromLastError();
        m_module = module;
        AddRef();  // the thread's
        DWORD id = 0;
        m_thread = ::CreateThread(nullptr, 0, &Routine, this, 0, &id);
        if (m_thread == nullptr) {
            const HRESULT hr = Win32::ResultFromLastError();
            ::FreeLibrary(module);
            m_module = nullptr;
            Release();
            return hr;
        }
        return S_OK;
    }

    // Queues the news; a level replaces a level that is last in the queue.
    void Push(const SNews& news)
    {
        {
            Synchronization::CAutoLock hold(&m_lock);
            if (m_closing)
                return;
            if (news.level && !m_queue.empty() && m_queue.back().level)
                m_queue.back() = news;
            else
                m_queue.push_back(news);
        }
        ::SetEvent(m_wake);
    }

    void Drop()
    {
        Synchronization::CAutoLock hold(&m_lock);
        m_queue.clear();
    }

    // Waits for a call that is running (not on this context's thread).
    HRESULT WaitForCall(DWORD timeout)
    {
        bool inCall = false;
        {
            Synchronization::CAutoLock hold(&m_lock);
            inCall = m_inCall;
        }
        if (!inCall || OnOwnThread())
            return S_FALSE;
        return ::WaitForSingleObject(m_returned, timeout) == WAIT_OBJECT_0 ? S_OK : VFW_E_TIMEOUT;
    }

    // Asks the thread to end.
    void Close()
    {
        {
            Synchronization::CAutoLock hold(&m_lock);
            m_closing = true;
            m_queue.clear();
        }
        ::SetEvent(m_wake);
    }

    // Waits for the thread to end (not on the thread itself).
    HRESULT WaitForEnd(DWORD timeout)
    {
        if (m_thread == nullptr || OnOwnThread())
            return S_FALSE;
        return ::WaitForSingleObject(m_thread, timeout) == WAIT_OBJECT_0 ? S_OK : VFW_E_TIMEOUT;
    }

    bool OnOwnThread() const { return t_context == this; }

    void Wake() { ::SetEvent(m_wake); }

    static thread_local CContext* t_context;

private:
    static DWORD WINAPI Routine(void* parameter)
    {
        CContext* context = static_cast<CContext*>(parameter);
        t_context = context;
        bool attached = false;
        context->Run(&attached);
        const HMODULE module = context->m_module;
        // May be the last reference: a delivery left behind by Close releases the Java references here,
        // while the thread is still attached.
        context->Release();
        t_context = nullptr;
        if (attached)
            DetachThread();
        ::FreeLibraryAndExitThread(module, 0);
        return 0;
    }

    // Attaches the thread once, for its life; a failure is traced (the first one) and tried again before
    // the next call (which, while the thread is not attached, attaches it for itself).
    static void AttachOnce(bool* attached, bool* failureTraced)
    {
        if (*attached)
            return;
        const HRESULT hr = AttachThreadForLife(kThreadName);
        *attached = hr == S_OK;
        if (FAILED(hr) && !*failureTraced) {
            *failureTraced = true;
            s_MainLog.Print(L"attach %hs to Java failed 0x%08X…", kThreadName, static_cast<unsigned>(hr));
        }
    }

    void Run(bool* attached)
    {
        bool failureTraced = false;
        AttachOnce(attached, &failureTraced);
        for (;;) {
            SNews news;
            bool taken = false;
            DWORD wait = kIdleWait;
            {
                Synchronization::CAutoLock hold(&m_lock);
                if (m_closing)
                    return;
                const LONG early = m_queue.empty() || !m_queue.front().delayed
                                       ? 0
                                       : static_cast<LONG>(m_queue.front().due - ::GetTickCount());
                if (early > 0) {
                    wait = std::min(wait, static_cast<DWORD>(early));
                } else if (!m_queue.empty()) {
                    news = m_queue.front();
                    m_queue.pop_front();
                    m_inCall = taken = true;
                    ::ResetEvent(m_returned);
                }
            }
            if (!taken) {
                // The stream's pieces go between the news, one at a time.
                if (m_pump == nullptr || !m_pump(m_listener))
                    ::WaitForSingleObject(m_wake, wait);
                continue;
            }
            AttachOnce(attached, &failureTraced);
            if (news.level)
                m_levels(m_listener, news.value);
            else
                m_events(m_listener, news.code, news.param1, news.param2, news.stream);
            {
                Synchronization::CAutoLock hold(&m_lock);
                m_inCall = false;
                ::SetEvent(m_returned);
            }
        }
    }

    EventReceiver m_events;
    LevelReceiver m_levels;
    StreamPump m_pump;
    volatile LONG m_references = 1;  // the library's
    SListener m_listener;
    HMODULE m_module = nullptr;
    HANDLE m_thread = nullptr;
    HANDLE m_wake = nullptr;      // auto-reset: news or Close
    HANDLE m_returned = nullptr;  // manual-reset: signalled while no call runs
    Synchronization::CCriticalSection m_lock;  // the fields below
    std::deque<SNews> m_queue;
    bool m_inCall = false;
    bool m_closing = false;
};

thread_local CListenerDelivery::CContext* CListenerDelivery::CContext::t_context = nullptr;

CListenerDelivery::CListenerDelivery(EventReceiver events, LevelReceiver levels) : m_events(events), m_levels(levels)
{
}

CListenerDelivery::~CListenerDelivery()
{
    // Runs at unload only: a delivery thread holds a reference on the module, so every thread of a
    // delivery has ended here, and what is left holds only the library's reference. Normally nothing
    // is (freeLibrary waits for what it closed); a delivery closed and never waited for is freed here.
    CContext* context = nullptr;
    CContext* closed = nullptr;
    {
        Synchronization::CAutoLock hold(&m_lock);
        context = m_context;
        closed = m_closed;
        m_context = nullptr;
        m_closed = nullptr;
    }
    if (context != nullptr)
        context->Release();
    if (closed != nullptr)
        closed->Release();
}

HRESULT CListenerDelivery::Start(JNIEnv* env, jobject object)
{
    if (Started())
        return E_UNEXPECTED;
    StreamPump pump = nullptr;
    {
        Synchronization::CAutoLock hold(&m_lock);
        pump = m_pump;
    }
    CContext* context = new (std::nothrow) CContext(m_events, m_levels, pump);
    if (context == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = context->Listener().stopped.Bind(env, object, "Stopped", "(I)V");
    if (SUCCEEDED(hr))
        hr = context->Listener().inputLevel.Bind(env, object, "InputLevel", "(D)V");
    if (SUCCEEDED(hr)) {
        // Optional: a class without them streams nothing.
        SListener& listener = context->Listener();
        if (FAILED(listener.streamFormat.Bind(env, object, "StreamFormat", "([B)V")) ||
            FAILED(listener.streamData.Bind(env, object, "StreamData", "([B)V"))) {
            listener.streamFormat.Unbind();
            listener.streamData.Unbind();
        }
    }
    if (SUCCEEDED(hr))
        hr = context->StartThread();
    if (FAILED(hr)) {
        context->Release();
        return hr;
    }
    Synchronization::CAutoLock hold(&m_lock);
    m_context = context;
    m_openStream = 0;
    return S_OK;
}

bool CListenerDelivery::Started()
{
    Synchronization::CAutoLock hold(&m_lock);
    return m_context != nullptr;
}

void CListenerDelivery::SetStreamPump(StreamPump pump)
{
    Synchronization::CAutoLock hold(&m_lock);
    m_pump = pump;
}

void CListenerDelivery::Wake()
{
    Synchronization::CAutoLock hold(&m_lock);
    if (m_context != nullptr)
        m_context->Wake();
}

bool CListenerDelivery::HasStreamMethods()
{
    Synchronization::CAutoLock hold(&m_lock);
    return m_context != nullptr && m_context->Listener().streamData.IsBound();
}

HRESULT CListenerDelivery::Close()
{
    CContext* context = nullptr;
    CContext* earlier = nullptr;
    {
        Synchronization::CAutoLock hold(&m_lock);
        context = m_context;
        m_context = nullptr;
        m_openStream = 0;
        if (context != nullptr) {
            earlier = m_closed;
            m_closed = context;
            context->AddRef();
        }
    }
    if (context == nullptr)
        return S_FALSE;
    context->Close();
    context->Release();
    // One closed earlier and never waited for ends by itself.
    if (earlier != nullptr)
        earlier->Release();
    return S_OK;
}

HRESULT CListenerDelivery::WaitForListener()
{
    CContext* closed = nullptr;
    CContext* current = nullptr;
    {
        Synchronization::CAutoLock hold(&m_lock);
        closed = m_closed;
        m_closed = nullptr;
        current = m_context;
        if (current != nullptr)
            current->AddRef();
    }
    HRESULT hr = S_FALSE;
    if (closed != nullptr) {
        hr = closed->WaitForEnd(CallReturnTimeout);
        // Often the last reference: the Java references are released here, on the caller's thread.
        closed->Release();
    } else if (current != nullptr) {
        hr = current->WaitForCall(CallReturnTimeout);
    }
    if (current != nullptr)
        current->Release();
    return hr;
}

LONG CListenerDelivery::BeginStream()
{
    Synchronization::CAutoLock hold(&m_lock);
    m_openStream = m_startedStream + 1;
    m_openStreamEnded = false;
    m_streamLevels = 0;
    return m_openStream;
}

void CListenerDelivery::StreamStarted(LONG stream)
{
    Synchronization::CAutoLock hold(&m_lock);
    m_startedStream = stream;
}

HRESULT CListenerDelivery::EndStream()
{
    Synchronization::CAutoLock hold(&m_lock);
    m_openStream = 0;
    m_openStreamEnded = false;
    m_streamLevels = 0;
    if (m_context == nullptr)
        return S_FALSE;
    m_context->Drop();
    return S_OK;
}

LONG CListenerDelivery::StreamLevels()
{
    Synchronization::CAutoLock hold(&m_lock);
    return m_openStream != 0 ? m_streamLevels : 0;
}

LONG CListenerDelivery::StreamNumber()
{
    Synchronization::CAutoLock hold(&m_lock);
    return m_startedStream;
}

HRESULT CListenerDelivery::PostLevel(double level)
{
    SNews news;
    news.level = true;
    news.value = level;
    Synchronization::CAutoLock hold(&m_lock);
    if (m_context == nullptr)
        return E_UNEXPECTED;
    if (m_openStream == 0 || m_openStreamEnded)
        return S_FALSE;
    news.stream = m_openStream;
    ++m_streamLevels;
    m_context->Push(news);
    return S_OK;
}

HRESULT CListenerDelivery::PostEvent(long code, LONG_PTR param1, LONG_PTR param2, const SEndCause* end,
                                     DWORD delayMilliseconds)
{
    SNews news;
    news.code = code;
    news.param1 = param1;
    news.param2 = param2;
    news.delayed = delayMilliseconds > 0;
    news.due = ::GetTickCount() + delayMilliseconds;
    Synchronization::CAutoLock hold(&m_lock);
    if (m_context == nullptr)
        return E_UNEXPECTED;
    if (m_openStream == 0)
        return S_FALSE;
    news.stream = m_openStream;
    if (end != nullptr) {
        // The stream's record: its first abnormal end, or else its first end.
        const bool sameStream = m_hasEndCause && m_endCause.stream == m_openStream;
        if (!sameStream || (end->abnormal && !m_endCause.abnormal)) {
            m_endCause = *end;
            m_endCause.stream = m_openStream;
            m_hasEndCause = true;
        }
        m_openStreamEnded = true;
    }
    m_context->Push(news);
    return S_OK;
}

bool CListenerDelivery::EndCause(SEndCause* cause)
{
    Synchronization::CAutoLock hold(&m_lock);
    *cause = m_endCause;
    return m_hasEndCause;
}

} // namespace JNI
