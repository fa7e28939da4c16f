#pragma once
// JNI::CListenerDelivery: the one thread of the library's own that calls the Java listener ("Stopped"
// and "InputLevel"). The capture graph's streaming thread and the media event thread only hand their
// news over and go on: the streaming thread's timing never depends on Java.
//
//   - A level replaces one that is not delivered yet; graph events are never coalesced or dropped while
//     their stream is current, and are delivered in the order they were handed over, each at most once.
//     An event handed over with a delay is delivered no sooner than that, and what follows it waits
//     behind it.
//   - A stream's news is taken only between BeginStream and EndStream (or Close): EndStream drops
//     what is undelivered, so after it returns no call of that stream begins. Once an end of the stream
//     is handed over, its levels are no longer taken: no "InputLevel" follows the stream's "Stopped".
//   - The end record: the cause of the last stream that ended is kept from the moment its end is handed
//     over (PostEvent with a cause), not when it is delivered, so that neither EndStream (a stop that
//     came first) nor a listener that is slow or cannot be called loses it. A stream's record is its
//     first abnormal end (a lost device or an error), or else its first end.
//   - After EndStream or Close (under the library lock), WaitForListener (outside it) waits for a
//     listener call that is running at most CallReturnTimeout, and never on the delivery thread itself
//     (a listener may call stop or freeLibrary). A call that runs longer
//     keeps the Java references it uses: the thread that was left behind releases them itself once Java
//     returns, then ends. Each delivery thread holds a reference on the library's module, so the module
//     cannot be unloaded under it.
//
// One delivery thread per initLibrary; freeLibrary (Close) ends it. The thread attaches itself to the
// virtual machine once, as a daemon thread named kThreadName, and detaches when it ends (after Close,
// once a listener call still running has returned): every listener call of one initLibrary comes on
// the same Java thread. Nothing here takes the library
// lock, and no lock of this object is held while Java runs.
#include <windows.h>

#include <jni.h>

#include "binding/java_method.h"
#include "support/critical_section.h"

namespace JNI {

// The two Java methods of the object that called initLibrary.
struct SListener {
    TMethodVoid stopped;     // "Stopped" "(I)V"
    TMethodVoid inputLevel;  // "InputLevel" "(D)V"
    // Bound only when the object's class has both (the package's binding class does, Quillmar not).
    TMethodVoid streamFormat;  // "StreamFormat" "([B)V"
    TMethodVoid streamData;    // "StreamData" "([B)V"
};

// Why a stream ended: the graph event code, its result (the error of an abort, 0 otherwise), the
// number of the stream, and whether the end is abnormal (a lost device or an error: "Stopped" with 1).
struct SEndCause {
    long code = 0;
    HRESULT result = S_OK;
    LONG stream = 0;
    bool abnormal = false;
};

class CListenerDelivery {
public:
    // How long EndStream and Close wait for a listener call that is running.
    static constexpr DWORD CallReturnTimeout = 2000; // milliseconds
    // The name of the delivery thread as Java sees it.
    static constexpr const char* kThreadName = "tessaro-listener-delivery";

    // Run on the delivery thread, outside every lock of this object, with the listener of the thread.
    using EventReceiver = void (*)(SListener& listener, long code, LONG_PTR param1, LONG_PTR param2, LONG stream);
    using LevelReceiver = void (*)(SListener& listener, double level);
    // Run on the delivery thread whenever it has no news: delivers one piece of a recording's stream
    // and says whether it did (then it is run again before the thread waits). Not dropped by EndStream.
    using StreamPump = bool (*)(SListener& listener);

    CListenerDelivery(EventReceiver events, LevelReceiver levels);
    // At unload (never at process exit, where the library objects are not destroyed): releases a
    // delivery that is left. Its thread has ended by then (it holds a reference on the module), so the
    // last reference, and with it the Java references, is dropped here.
    ~CListenerDelivery();
    CListenerDelivery(const CListenerDelivery&) = delete;
    CListenerDelivery& operator=(const CListenerDelivery&) = delete;

    // Binds "Stopped" and "InputLevel" on the object and starts the delivery thread. E_UNEXPECTED (and
    // nothing changed) while a delivery runs; a failure binds nothing and starts nothing.
    HRESULT Start(JNIEnv* env, jobject object);
    // Whether a delivery runs (between Start and Close).
    bool Started();
    // Sets the stream pump (before Start); Wake has the delivery thread run it.
    void SetStreamPump(StreamPump pump);
    void Wake();
    // Whether the running delivery's object has "StreamFormat" and "StreamData".
    bool HasStreamMethods();
    // Ends the delivery: drops what is undelivered and asks its thread to end; WaitForListener then
    // waits for the thread. S_FALSE when none runs.
    HRESULT Close();
    // Opens the news of the next stream (its number: the last started one's plus one).
    LONG BeginStream();
    // The stream begun by BeginStream runs: its number becomes the one StreamNumber reports.
    void StreamStarted(LONG stream);
    // Closes the news of the current stream: drops what is undelivered. S_FALSE when no delivery runs.
    HRESULT EndStream();
    // Waits at most CallReturnTimeout for the thread of a delivery that Close ended, or else for a
    // listener call that is running; never on the delivery thread itself. S_OK, S_FALSE when there was
    // nothing to wait for, VFW_E_TIMEOUT when the call still runs (a closed delivery's thread then ends
    // by itself once Java returns, and releases the Java references).
    HRESULT WaitForListener();
    // The number of the last stream started; 0 before the first.
    LONG StreamNumber();
    // The levels the open stream has handed over (PostLevel taken, merged ones included): one per
    // buffer the capture path measured. 0 while no stream is open.
    LONG StreamLevels();

    // The hand-overs, for any thread; they never wait for Java. E_UNEXPECTED when no delivery runs,
    // S_FALSE when no stream is open or (a level) the stream has ended (the news is dropped). An event
    // that ends the stream comes with its cause (code, result, abnormal); the stream number is filled in
    // here and the cause kept as the end record (see above) before the news is queued, whatever the
    // delay of its delivery (milliseconds from now).
    HRESULT PostLevel(double level);
    HRESULT PostEvent(long code, LONG_PTR param1, LONG_PTR param2, const SEndCause* end = nullptr,
                      DWORD delayMilliseconds = 0);

    // The end record: the cause of the last stream that ended, kept from its hand-over; false when no
    // stream has ended yet.
    bool EndCause(SEndCause* cause);

private:
    class CContext;

    // The current context with a reference for the caller; null when none runs.
    CContext* AcquireContext();

    EventReceiver m_events;
    LevelReceiver m_levels;
    StreamPump m_pump = nullptr;
    Synchronization::CCriticalSection m_lock;  // the fields below; never held while waiting
    CContext* m_context = nullptr;
    CContext* m_closed = nullptr;  // ended by Close, not yet waited for
    LONG m_openStream = 0;      // the stream whose news is taken; 0 for none
    LONG m_startedStream = 0;   // the last stream started
    bool m_openStreamEnded = false;  // an end of the open stream was handed over
    LONG m_streamLevels = 0;         // levels the open stream handed over
    SEndCause m_endCause;
    bool m_hasEndCause = false;
};

} // namespace JNI
