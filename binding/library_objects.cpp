#include "binding/library_objects.h"

#include "binding/java_callbacks.h"
#include "support/trace_log.h"

#include <new>

namespace {

// Set when the library is detached because the process exits.
bool s_processExiting = false;

// A library object whose destructor runs when the library is unloaded, but not at process exit.
template <class T>
class TLibraryObject {
public:
    template <class... Args>
    explicit TLibraryObject(Args... args)
    {
        new (m_storage) T(args...);
    }
    ~TLibraryObject()
    {
        if (!s_processExiting)
            Object().~T();
    }
    TLibraryObject(const TLibraryObject&) = delete;
    TLibraryObject& operator=(const TLibraryObject&) = delete;

    T& Object() { return *reinterpret_cast<T*>(m_storage); }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};

} // namespace

// Definition order is construction order (all in this one file): the two logs first, so that every
// other object can trace while it is built and torn down (the capture graph's encoder writes to the
// encoder log until it is released); the listener delivery before the graphs and the media event
// thread, whose callbacks hand news to it.
CTraceLog s_MainLog(L"Tessaro.log");
CTraceLog s_EncoderLog(L"MPEG2AudioEncoder.log");
Synchronization::CCriticalSection s_Lock;

namespace {
TLibraryObject<JNI::CListenerDelivery> s_listener(&JNI::DeliverMediaEvent, &JNI::DeliverLevel);
void WakeListener()
{
    s_listener.Object().Wake();
}
TLibraryObject<JNI::CStreamDelivery> s_stream(&WakeListener);
TLibraryObject<CFilterGraph_Capture> s_captureGraph;
TLibraryObject<CFilterGraph_Playback> s_playbackGraph;
TLibraryObject<DirectShow::CMediaEventThread> s_mediaEventThread;
} // namespace

JNI::CListenerDelivery& s_Listener = s_listener.Object();
JNI::CStreamDelivery& s_Stream = s_stream.Object();
CFilterGraph_Capture& s_CaptureGraph = s_captureGraph.Object();
CFilterGraph_Playback& s_PlaybackGraph = s_playbackGraph.Object();
DirectShow::CMediaEventThread& s_MediaEventThread = s_mediaEventThread.Object();

JavaVM* s_JavaVM = nullptr;

bool StreamPump(JNI::SListener& listener)
{
    return s_Stream.DeliverNext(listener);
}

namespace {
HMODULE s_pin = nullptr;  // the module's reference on itself while a graph is held
} // namespace

void PinWhileGraphHeld()
{
    const bool held = s_CaptureGraph.IsValid() || s_PlaybackGraph.IsValid();
    if (held && s_pin == nullptr) {
        HMODULE module = nullptr;
        if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                 reinterpret_cast<const wchar_t*>(reinterpret_cast<void*>(&PinWhileGraphHeld)), &module))
            s_pin = module;
    } else if (!held && s_pin != nullptr) {
        const HMODULE module = s_pin;
        s_pin = nullptr;
        ::FreeLibrary(module);
    }
}

// Runs before the static objects are destroyed (the runtime destroys them after DllMain returns).
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, void* reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr)
        s_processExiting = true;
    return TRUE;
}
