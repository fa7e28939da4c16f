// The transport natives: record, play, pause, stop, getDuration, getCurrentPosition and addBuffer.
#include <windows.h>

#include <jni.h>

#include "com_tarvik_kelvane_Quillmar.h"

#include "binding/java_arrays.h"
#include "binding/library_objects.h"
#include "binding/native_frame.h"
#include "binding/playback_start.h"
#include "binding/recording_start.h"
#include "graph/device_utilities.h"
#include "graph/device_list.h"
#include "graph/media_control.h"
#include "graph/media_seeking.h"
#include "support/step_sequence.h"
#include "support/trace_log.h"

#include <memory>
#include <string>

namespace {

// Reads the path of record or play and writes it to the main log; an empty path is refused.
HRESULT ReadPathArgument(JNIEnv* env, jbyteArray pathBytes, const wchar_t* pathLineFormat, std::wstring& path)
{
    HRESULT hr = S_OK;
    CStepSequence steps(hr);
    steps.Do([&] {
            s_MainLog.Print(L"get file path…");
            return JNI::ReadUtf8Path(env, pathBytes, path);
        })
        .Do([&] {
            s_MainLog.Print(pathLineFormat, path.c_str());
            return path.empty() ? E_INVALIDARG : S_OK;
        });
    return hr;
}

constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

// A recording's target must be a path that its writer takes: the WAV writer and the file sink
// interface of the File Writer hold names of fewer than MAX_PATH characters. A longer path is refused
// with a code that names the cause (0x800700CE) before anything is built, instead of failing deep in
// the graph with an unrelated buffer error.
HRESULT CheckTargetLength(const std::wstring& path)
{
    return path.size() < MAX_PATH ? S_OK : kPathTooLong;
}

// The graph that a control method acts on: the recording while one is held, otherwise the playback;
// null when neither holds a graph.
DirectShow::CFilterGraph* ChooseGraph()
{
    if (s_CaptureGraph.IsValid())
        return std::addressof(s_CaptureGraph);
    if (s_PlaybackGraph.IsValid())
        return std::addressof(s_PlaybackGraph);
    return nullptr;
}

// Runs one step on the chosen graph; E_UNEXPECTED when none is held.
template <class Step>
HRESULT OnChosenGraph(Step&& step)
{
    DirectShow::CFilterGraph* const graph = ChooseGraph();
    return graph != nullptr ? step(*graph) : E_UNEXPECTED;
}

// How long a playback may take to preroll before it is run all the same (a slow URL, say).
constexpr DWORD kPrerollMilliseconds = 5000;
// How far ahead of the present a prerolled playback starts its stream: an idle audio path drops up to
// about 0.9 s of what it is first given (see CPlaybackTransport); 0.3 and 0.5 s were measured too short.
constexpr REFERENCE_TIME kStartLead = 1000 * 10000;

// Attaches the media event thread to the freshly built graph and runs it.
HRESULT AttachAndRun(DirectShow::CFilterGraph& graph, bool traceRun)
{
    HRESULT hr = S_OK;
    DirectShow::CMediaControl control;
    CStepSequence steps(hr);
    steps.Do([&] {
            s_MainLog.Print(L"attach FilterGraph to s_MediaEventThread…");
            return s_MediaEventThread.Attach(graph.p);
        })
        .Do([&] {
            s_MainLog.Print(L"init MediaControl…");
            return control.Attach(graph);
        })
        .Do([&] {
            // A playback is paused first, until its renderer holds the first audio (bounded): run at
            // once, the graph's clock would start while the renderer still waits for its first sample,
            // and the audio that comes late for the clock would be dropped unheard.
            if (traceRun)
                return S_OK;
            s_MainLog.Print(L"preroll FilterGraph…");
            const HRESULT paused = control.Preroll(kPrerollMilliseconds);
            if (paused == VFW_S_STATE_INTERMEDIATE)
                s_MainLog.Print(L"not prerolled within %u ms, run anyway…", kPrerollMilliseconds);
            return FAILED(paused) ? paused : S_OK;
        })
        .Do([&] {
            if (!traceRun)
                return s_PlaybackGraph.Transport().Start(graph, kStartLead);
            s_MainLog.Print(L"run FilterGraph…");
            return control.Run();
        });
    return hr;
}

// One recording or playback at a time: E_UNEXPECTED while either graph is held, before anything is
// built, so that the control methods keep acting on the held graph.
HRESULT RefuseWhileHeld()
{
    return s_CaptureGraph.IsValid() || s_PlaybackGraph.IsValid() ? E_UNEXPECTED : S_OK;
}

// Builds a graph with the step given, attaches the media event thread and runs it, with the listener's
// news open for the new stream; the stream's number is kept once it runs.
template <class Build>
HRESULT StartStream(DirectShow::CFilterGraph& graph, bool traceRun, Build&& build)
{
    HRESULT hr = S_OK;
    const LONG stream = s_Listener.BeginStream();
    CStepSequence(hr).Do(build).Do([&] { return AttachAndRun(graph, traceRun); });
    if (SUCCEEDED(hr))
        s_Listener.StreamStarted(stream);
    return hr;
}

// The length of one capture buffer: the capture graph asks its device for sample rate / 25 samples.
constexpr double kCaptureBufferSeconds = 1.0 / 25.0;

// A time of the seeking interface (100-ns units) in seconds.
double Seconds(LONGLONG time)
{
    return static_cast<double>(time) / 10000000.0;
}

// A chosen device must be present now, before anything is built or written.
HRESULT RequirePresentDevice(DirectShow::CDeviceList&& devices, const wchar_t* deviceId, const wchar_t* line)
{
    s_MainLog.Print(line);
    const HRESULT hr = devices.Read();
    if (FAILED(hr))
        return hr;
    return devices.Contains(deviceId) ? S_OK : DirectShow::DeviceNotPresent;
}

} // namespace

HRESULT StartRecording(JNIEnv* env, jbyteArray pathBytes, const CaptureOptions& options, const wchar_t* deviceId)
{
    HRESULT hr = S_OK;
    std::wstring path;
    const bool noFile = options.tap != nullptr && pathBytes == nullptr;
    CStepSequence steps(hr);
    steps.Do([&] {
            if (!noFile)
                return ReadPathArgument(env, pathBytes, L"file path = \"%ls\".", path);
            s_MainLog.Print(L"no file path: the recording is only streamed.");
            return S_OK;
        })
        .Do([&] { return CheckTargetLength(path); })
        .Do([] { return RefuseWhileHeld(); })
        .Do([] {
            // From here the start is a new recording: a failure leaves none lost, not the last one's.
            s_CaptureGraph.ForgetDroppedAudio();
            return S_OK;
        })
        .Do([&] {
            return deviceId != nullptr
                       ? RequirePresentDevice(DirectShow::CInputDeviceList(), deviceId, L"find input device…")
                       : S_OK;
        })
        .Do([&] {
            if (options.tap != nullptr)
                s_Stream.Open();
            const HRESULT started = StartStream(s_CaptureGraph, true, [&] {
                return s_CaptureGraph.Init(noFile ? nullptr : path.c_str(), options, deviceId);
            });
            if (FAILED(started) && options.tap != nullptr)
                s_Stream.Discard();
            return started;
        });
    return hr;
}

HRESULT StartPlayback(JNIEnv* env, jbyteArray pathBytes, jint number, const wchar_t* rendererId)
{
    HRESULT hr = S_OK;
    std::wstring path;
    CStepSequence steps(hr);
    steps.Do([&] { return ReadPathArgument(env, pathBytes, L"FilePath = \"%ls\".", path); })
        .Do([] { return RefuseWhileHeld(); })
        .Do([&] {
            return rendererId != nullptr
                       ? RequirePresentDevice(DirectShow::COutputDeviceList(), rendererId, L"find output device…")
                       : S_OK;
        })
        .Do([&] {
            return StartStream(s_PlaybackGraph, false,
                               [&] { return s_PlaybackGraph.Init(path.c_str(), number, rendererId); });
        });
    return hr;
}

HRESULT StartRecording(JNIEnv* env, jbyteArray pathBytes, jint formatTag, jint sampleRate, jint bitRate,
                       const wchar_t* deviceId)
{
    CaptureOptions options;
    options.formatTag = formatTag;
    options.sampleRate = sampleRate;
    options.bitRate = bitRate;
    return StartRecording(env, pathBytes, options, deviceId);
}

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_record(JNIEnv* env, jobject /*self*/, jbyteArray pathBytes,
                                                              jint formatTag, jint sampleRate, jint bitRate)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_record", &hr, CNativeFrame::WithLibraryLockForChange,
                       L"%d, %d, %d", formatTag, sampleRate, bitRate);
    hr = StartRecording(env, pathBytes, formatTag, sampleRate, bitRate, nullptr);
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_play(JNIEnv* env, jobject /*self*/, jbyteArray pathBytes,
                                                            jint number)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_play", &hr, CNativeFrame::WithLibraryLockForChange, L"%d",
                       number);
    hr = StartPlayback(env, pathBytes, number, nullptr);
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_pause(JNIEnv* env, jobject /*self*/,
                                                             jbooleanArray paused)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_pause", &hr, CNativeFrame::WithLibraryLockForChange);
    hr = OnChosenGraph([&](DirectShow::CFilterGraph& graph) {
        DirectShow::CMediaControl control;
        bool nowPaused = false;
        HRESULT result = S_OK;
        // The array is checked before the graph is touched: a call that cannot report the new state
        // does not change it.
        CStepSequence(result)
            .Do([&] { return JNI::CheckFirstElement(env, paused); })
            .Do([&] {
                if (std::addressof(graph) == std::addressof(s_PlaybackGraph))
                    return s_PlaybackGraph.Transport().TogglePause(graph, &nowPaused);
                HRESULT toggled = control.Attach(graph);
                return SUCCEEDED(toggled) ? control.TogglePause(&nowPaused) : toggled;
            })
            .Do([&] { return JNI::WriteFirstElement(env, paused, nowPaused); });
        return result;
    });
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_stop(JNIEnv* /*env*/, jobject /*self*/)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_stop", &hr, CNativeFrame::WithLibraryLockForChange);
    hr = OnChosenGraph([](DirectShow::CFilterGraph& graph) {
        DirectShow::CMediaControl control;
        HRESULT result = S_OK;
        CStepSequence(result)
            .Do([&] { return control.Attach(graph); })
            .Do([&] { return control.Stop(); })
            // Only this graph's: the event thread may serve the other one (a record refused while a
            // playback runs leaves the playback attached).
            .Do([&] { return s_MediaEventThread.Detach(graph.p); })
            .Do([&] {
                control.Release();
                // Virtual: the capture graph frees its own way (device list, device interfaces).
                return graph.Free();
            });
        // What the listener has not been told of the stopped stream is dropped; an end it was not told
        // of yet stays in the end record (getEndCause), a failure among them: stop itself succeeded.
        if (SUCCEEDED(result))
            s_Listener.EndStream();
        return result;
    });
    // A listener call still running is waited for at most a bounded time, outside the library lock
    // (the listener may be calling a native) and never on the delivery thread itself.
    frame.Unlock();
    if (SUCCEEDED(hr) && s_Listener.WaitForListener() == VFW_E_TIMEOUT)
        s_MainLog.Print(L"listener still running…");
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_getDuration(JNIEnv* env, jobject /*self*/,
                                                                   jdoubleArray seconds)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_getDuration", &hr, CNativeFrame::WithLibraryLock);
    hr = OnChosenGraph([&](DirectShow::CFilterGraph& graph) {
        DirectShow::CMediaSeeking seeking;
        LONGLONG duration = 0;
        HRESULT result = S_OK;
        CStepSequence(result)
            .Do([&] { return seeking.Attach(graph); })
            .Do([&] { return seeking.GetDuration(&duration); })
            .Do([&] { return JNI::WriteFirstElement(env, seconds, Seconds(duration)); });
        return result;
    });
    return hr;
}

JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_getCurrentPosition(JNIEnv* env, jobject /*self*/,
                                                                          jdoubleArray seconds)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_getCurrentPosition", &hr, CNativeFrame::WithLibraryLock);
    // A recording's position is the audio recorded: the buffers its capture path measured (the graph's
    // clock runs from the start of the graph, before the device's first buffer, and on through gaps).
    if (s_CaptureGraph.IsValid())
        return hr = JNI::WriteFirstElement(env, seconds, s_Listener.StreamLevels() * kCaptureBufferSeconds);
    // A playback's is its stream's, which starts a lead after the play (see CPlaybackTransport).
    hr = OnChosenGraph([&](DirectShow::CFilterGraph& graph) {
        LONGLONG position = 0;
        HRESULT result = S_OK;
        CStepSequence(result)
            .Do([&] { return s_PlaybackGraph.Transport().GetPosition(graph, &position); })
            .Do([&] { return JNI::WriteFirstElement(env, seconds, Seconds(position)); });
        return result;
    });
    return hr;
}

// Inactive: traces its two scalar arguments and succeeds; the data array is not read.
JNIEXPORT jint JNICALL Java_com_tarvik_kelvane_Quillmar_addBuffer(JNIEnv* /*env*/, jobject /*self*/,
                                                                 jbyteArray /*data*/, jint value, jboolean flag)
{
    HRESULT hr = S_OK;
    CNativeFrame frame("Java_com_tarvik_kelvane_Quillmar_addBuffer", &hr, CNativeFrame::WithoutLock, L"%d, %d",
                       value, flag ? 1 : 0);
    return hr;
}

} // extern "C"
