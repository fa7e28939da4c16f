#pragma once
// The library's static objects. They are built when the library is loaded, in the order of their
// definitions in library_objects.cpp, and destroyed in the reverse order when it is unloaded.
#include "binding/java_method.h"
#include "graph/filter_graph_capture.h"
#include "graph/filter_graph_playback.h"
#include "graph/media_event_thread.h"
#include "support/critical_section.h"
#include "support/library_logs.h"

// Serialises every Java-facing operation except getVersion and addBuffer.
extern Synchronization::CCriticalSection s_Lock;
// The recording graph; empty until record builds it, emptied by stop and freeLibrary.
extern CFilterGraph_Capture s_CaptureGraph;
// The playback graph; empty until play builds it, emptied by stop and freeLibrary.
extern CFilterGraph_Playback s_PlaybackGraph;
// Watches the event queue of the graph that record or play attached to it.
extern DirectShow::CMediaEventThread s_MediaEventThread;
// "Stopped" "(I)V" and "InputLevel" "(D)V" on the object that called initLibrary.
extern JNI::TMethodVoid s_Stopped;
extern JNI::TMethodVoid s_InputLevel;
