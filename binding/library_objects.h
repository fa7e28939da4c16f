#pragma once
// The library's static objects. They are built when the library is loaded, in the order of their
// definitions in library_objects.cpp, and destroyed in the reverse order when it is unloaded: every
// object is destroyed after each object that may still use it (the logs last, the listener delivery
// after the graphs whose callbacks hand news to it).
//
// When the process exits (rather than the library being unloaded), the graphs, the media event thread
// and the listener delivery are left to the system: their threads are gone, and tearing a graph down
// there (COM calls, filters waiting for their threads) or releasing Java references is unsafe under the
// loader lock. A file that a held graph writes stays as its writer last left it.
#include "binding/listener_delivery.h"
#include "graph/filter_graph_capture.h"
#include "graph/filter_graph_playback.h"
#include "graph/media_event_thread.h"
#include "support/critical_section.h"
#include "support/library_logs.h"

// Serialises every Java-facing operation except getVersion, addBuffer, getEndCause and getStreamNumber.
extern Synchronization::CCriticalSection s_Lock;
// The thread that calls "Stopped" and "InputLevel" on the object that called initLibrary, and the
// end cause and stream number that Java can read.
extern JNI::CListenerDelivery& s_Listener;
// The recording graph; empty until record builds it, emptied by stop and freeLibrary.
extern CFilterGraph_Capture& s_CaptureGraph;
// The playback graph; empty until play builds it, emptied by stop and freeLibrary.
extern CFilterGraph_Playback& s_PlaybackGraph;
// Watches the event queue of the graph that record or play attached to it.
extern DirectShow::CMediaEventThread& s_MediaEventThread;
