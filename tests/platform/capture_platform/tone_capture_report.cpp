#include "tone_capture_report.h"

#include <cstdio>
#include <cstring>

namespace CapturePlatform {

CToneCaptureReport::CToneCaptureReport(const std::wstring& path, DWORD rate, double frequency, DWORD holdMilliseconds,
                                       bool fast)
    : m_path(path), m_rate(rate), m_frequency(frequency), m_holdMilliseconds(holdMilliseconds), m_fast(fast)
{
}

void CToneCaptureReport::Delivered(ULONG frames)
{
    ++m_buffers;
    m_frames += frames;
}

void CToneCaptureReport::Dropped(REFERENCE_TIME at, LONGLONG frames, REFERENCE_TIME time)
{
    ++m_drops;
    m_droppedFrames += frames;
    m_droppedTime += time;
    char line[128];
    std::snprintf(line, sizeof(line), "drop at=%lld frames=%lld time=%lld\r\n", static_cast<long long>(at),
                  static_cast<long long>(frames), static_cast<long long>(time));
    Append(line);
}

void CToneCaptureReport::Stopped()
{
    char line[256];
    std::snprintf(line, sizeof(line),
                  "stop buffers=%lld frames=%lld drops=%lld dropped_frames=%lld dropped_time=%lld rate=%lu "
                  "frequency=%g hold_ms=%lu fast=%d\r\n",
                  static_cast<long long>(m_buffers), static_cast<long long>(m_frames), static_cast<long long>(m_drops),
                  static_cast<long long>(m_droppedFrames), static_cast<long long>(m_droppedTime),
                  static_cast<unsigned long>(m_rate), m_frequency, static_cast<unsigned long>(m_holdMilliseconds),
                  m_fast ? 1 : 0);
    Append(line);
}

void CToneCaptureReport::Append(const char* line)
{
    if (m_path.empty())
        return;
    // Opened for each line: drops are rare, and the file is complete whenever a test reads it.
    const HANDLE file = ::CreateFileW(m_path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    ::CloseHandle(file);
}

} // namespace CapturePlatform
