#include "binding/library_objects.h"

#include "support/trace_log.h"

// Definition order is construction order (all in this one file): the main log first, so that every
// other object can trace while it is built and torn down, and the encoder log last.
CTraceLog s_MainLog(L"Tessaro.log");
Synchronization::CCriticalSection s_Lock;
CFilterGraph_Capture s_CaptureGraph;
CFilterGraph_Playback s_PlaybackGraph;
DirectShow::CMediaEventThread s_MediaEventThread;
JNI::TMethodVoid s_Stopped;
JNI::TMethodVoid s_InputLevel;
CTraceLog s_EncoderLog(L"MPEG2AudioEncoder.log");

JavaVM* s_JavaVM = nullptr;
