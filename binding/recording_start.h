#pragma once
// The road of one recording that record and recordFromDevice share, run inside the caller's native
// frame (trace scope and library lock): read the path, refuse a recording while a graph is held, build
// the capture graph, attach the event thread and run it.
#include <windows.h>

#include <jni.h>

#include "graph/capture_options.h"

// deviceId names the audio input device by its id (the moniker's display name); null records from the
// default device. A chosen device that is not present now fails with 0x8007048F before anything is
// built; one that goes between that check and the build fails the same way in the capture graph.
// options.tap, when set, is the library's stream delivery: the stream is opened before the graph is
// built and discarded when the start fails; with a tap, a null pathBytes records no file.
HRESULT StartRecording(JNIEnv* env, jbyteArray pathBytes, const CaptureOptions& options, const wchar_t* deviceId);
// The plain form of record and recordFromDevice: mono, constant bit rate, no stream.
HRESULT StartRecording(JNIEnv* env, jbyteArray pathBytes, jint formatTag, jint sampleRate, jint bitRate,
                       const wchar_t* deviceId);
