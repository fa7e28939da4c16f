#pragma once
// What a tone capture device delivered and dropped in one run of its stream (from the filter leaving
// Stopped to its return there), kept by the streaming thread and, when the device has a report file
// (TESSARO_TEST_CAPTURE_REPORT), appended to it as ASCII lines ending in CR LF:
//
//   one line per drop, when it happens:
//     drop at=<T> frames=<N> time=<D>
//   one line when the run ends (the filter stops, or streaming ends by itself):
//     stop buffers=<B> frames=<F> drops=<K> dropped_frames=<M> dropped_time=<E> rate=<R> frequency=<Hz> hold_ms=<H> fast=<0|1>
//
// Times are stream times in 100-ns units, as the samples are stamped (frame n is at n * 10^7 / rate,
// rounded down). A drop: T is where the lost audio begins (the stop time of the last sample delivered
// before it, 0 when nothing was), N the frames lost (whole buffers), D the time they covered, so the
// next sample starts at T + D with its discontinuity flag set. The summary: B samples and F frames
// delivered, K drops of M frames and E in all, the stream's sample rate and tone frequency, and the
// device's options. Several devices or runs may append to one file; each run's drops come before its
// stop line. Failures to write the file are ignored: the report never changes what the device does.
#include <windows.h>
#include <strmif.h>

#include <string>

namespace CapturePlatform {

class CToneCaptureReport {
public:
    // path (empty: no file) must outlive the report.
    CToneCaptureReport(const std::wstring& path, DWORD rate, double frequency, DWORD holdMilliseconds, bool fast);

    void Delivered(ULONG frames);
    void Dropped(REFERENCE_TIME at, LONGLONG frames, REFERENCE_TIME time);
    void Stopped();

private:
    void Append(const char* line);

    const std::wstring& m_path;
    const DWORD m_rate;
    const double m_frequency;
    const DWORD m_holdMilliseconds;
    const bool m_fast;
    LONGLONG m_buffers = 0;
    LONGLONG m_frames = 0;
    LONGLONG m_drops = 0;
    LONGLONG m_droppedFrames = 0;
    REFERENCE_TIME m_droppedTime = 0;
};

} // namespace CapturePlatform
