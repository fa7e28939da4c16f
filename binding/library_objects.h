#pragma once
// The library's static objects. They are built when the library is loaded, in the order of their
// definitions in library_objects.cpp, and destroyed in the reverse order when it is unloaded: every
// object is destroyed after each object that may still use it (the logs last, the listener delivery
// after the graphs whose callbacks hand news to it).
//
// No graph is ever torn down while the library is detached (under the loader lock, where a graph
// manager waiting for its own thread would hang): while a graph is held the module keeps a reference
// on itself (PinWhileGraphHeld), so it is unloaded only after stop or freeLibrary has released the
// graphs. When the process exits, the graphs, the media event thread and the listener delivery are left
// to the system: their threads are gone, and COM calls or releasing Java references there are unsafe.
// A file that a held graph writes stays as its writer last left it.
#include "binding/listener_delivery.h"
#include "binding/stream_delivery.h"
#include "graph/filter_graph_capture.h"
#include "graph/filter_graph_playback.h"
#include "graph/media_event_thread.h"
#include "support/critical_section.h"
#include "support/library_logs.h"

// Takes a reference on the library's module while a graph is held and drops it once none is; called
// under the library lock when a native that may build or free a graph ends (by then the caller holds
// the module loaded itself).
void PinWhileGraphHeld();

// Serialises every Java-facing operation except getVersion, addBuffer, getEndCause and getStreamNumber.
extern Synchronization::CCriticalSection s_Lock;
// The thread that calls "Stopped" and "InputLevel" on the object that called initLibrary, and the
// end cause and stream number that Java can read.
extern JNI::CListenerDelivery& s_Listener;
// The recorded bytes of a streamed recording on their way to the delivery thread; StreamPump is the
// delivery thread's pump for them (see CListenerDelivery::SetStreamPump).
extern JNI::CStreamDelivery& s_Stream;
bool StreamPump(JNI::SListener& listener);
// The recording graph; empty until record builds it, emptied by stop and freeLibrary.
extern CFilterGraph_Capture& s_CaptureGraph;
// The playback graph; empty until play builds it, emptied by stop and freeLibrary.
extern CFilterGraph_Playback& s_PlaybackGraph;
// Watches the event queue of the graph that record or play attached to it.
extern DirectShow::CMediaEventThread& s_MediaEventThread;
