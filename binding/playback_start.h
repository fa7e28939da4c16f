#pragma once
// The road of one playback that play and playOnDevice share, run inside the caller's native frame
// (trace scope and library lock): read the path, refuse a playback while a graph is held, build the
// playback graph, attach the event thread, preroll the graph and run it.
#include <windows.h>

#include <jni.h>

// rendererId names the audio renderer by its id (as getOutputDevices lists it); null plays on the one
// the graph manager chooses. A chosen renderer that is not present now fails with 0x8007048F before
// anything is built.
HRESULT StartPlayback(JNIEnv* env, jbyteArray pathBytes, jint number, const wchar_t* rendererId);
