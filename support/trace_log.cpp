#include "support/trace_log.h"

#include <cstring>
#include <cwchar>
#include <stdio.h>

namespace {

constexpr LONGLONG TimeUnitsPerSecond = 10000000;           // 100-ns units
constexpr ULONGLONG TimeUnitsPerMinute = 60 * 10000000ULL;
constexpr ULONGLONG TimeUnitsPerHour = 60 * TimeUnitsPerMinute;
constexpr size_t ThreadColumnCapacity = 16;                  // "| XXXXXXXX | " and the terminator
constexpr size_t TimeColumnCapacity = 21;                    // " HH:MM:SS.FFFFFFF | " and the terminator
constexpr size_t IndentCapacity = 512;
constexpr size_t TempPathCapacity = MAX_PATH + 1;

// Formats into buffer (capacity characters with the terminator). Returns the length, or -1 when the text
// does not fit or cannot be formatted; the buffer is terminated in every case.
int FormatIntoV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args)
{
    if (!buffer || capacity == 0)
        return -1;
    buffer[capacity - 1] = L'\0';
    if (!format) {
        buffer[0] = L'\0';
        return -1;
    }
    // Returns -1 when more than capacity - 1 characters would be needed, leaving the last one for the
    // terminator.
    const int length = _vsnwprintf(buffer, capacity - 1, format, args);
    if (length < 0)
        return -1;
    buffer[length] = L'\0';
    return length;
}

int FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int length = FormatIntoV(buffer, capacity, format, args);
    va_end(args);
    return length;
}

// Appends length characters of piece to the line; false when they do not fit with the terminator.
bool Append(wchar_t* line, size_t capacity, size_t& used, const wchar_t* piece, size_t length)
{
    if (used + length + 1 > capacity)
        return false;
    std::memcpy(line + used, piece, length * sizeof(wchar_t));
    used += length;
    line[used] = L'\0';
    return true;
}

} // namespace

CTraceLog::CTraceLog(const wchar_t* nameFormat, ...)
    : m_frequency(1), m_counterAtOpen(0), m_timeOfDayAtOpen(0), m_depth{}, m_file(INVALID_HANDLE_VALUE)
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    if (::QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 &&
        ::QueryPerformanceCounter(&counter)) {
        m_frequency = frequency.QuadPart;
        m_counterAtOpen = counter.QuadPart;
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        m_timeOfDayAtOpen =
            ((((now.wHour * 60LL + now.wMinute) * 60 + now.wSecond) * 1000) + now.wMilliseconds) * 10000;
    }

    wchar_t name[NameCapacity];
    va_list args;
    va_start(args, nameFormat);
    const int nameLength = FormatIntoV(name, NameCapacity, nameFormat, args);
    va_end(args);

    if (nameLength > 0) {
        m_file = CreateLogFile(name);
        if (m_file == INVALID_HANDLE_VALUE) {
            wchar_t path[TempPathCapacity + NameCapacity];
            const DWORD tempLength = ::GetTempPathW(TempPathCapacity, path);
            if (tempLength > 0 && tempLength < TempPathCapacity) {
                std::memcpy(path + tempLength, name, (nameLength + 1) * sizeof(wchar_t));
                m_file = CreateLogFile(path);
            }
        }
    }

    Print(L"Log started.");
}

CTraceLog::~CTraceLog()
{
    Print(L"Log stopped.");
    if (m_file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
}

HANDLE CTraceLog::CreateLogFile(const wchar_t* path) const
{
    return ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, nullptr);
}

void CTraceLog::Print(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    PrintV(format, args);
    va_end(args);
}

void CTraceLog::PrintV(const wchar_t* format, va_list args)
{
    const LONGLONG time = CurrentTime();
    wchar_t message[MessageCapacity];
    if (FormatIntoV(message, MessageCapacity, format, args) < 0)
        return;
    WriteLine(::GetCurrentThreadId(), time, message);
}

void CTraceLog::WriteLine(DWORD threadId, LONGLONG time, const wchar_t* message)
{
    wchar_t line[LineCapacity];
    const bool toFile = HasFile();
    const int length = AssembleLine(line, LineCapacity, threadId, time, Depth(threadId), message, toFile);
    if (length < 0)
        return;

    Synchronization::CAutoLock lock(&m_writeLock);
    if (toFile) {
        DWORD written = 0;
        ::WriteFile(m_file, line, static_cast<DWORD>(length * sizeof(wchar_t)), &written, nullptr);
    } else if (::IsDebuggerPresent()) {
        ::OutputDebugStringW(line);
    }
}

LONGLONG CTraceLog::CurrentTime() const
{
    LARGE_INTEGER counter;
    if (!::QueryPerformanceCounter(&counter))
        return 0;
    return CounterToTime(counter.QuadPart - m_counterAtOpen, m_frequency) + m_timeOfDayAtOpen;
}

LONGLONG CTraceLog::CounterToTime(LONGLONG counterDifference, LONGLONG frequency)
{
    if (frequency <= 0)
        return 0;
    // Whole seconds and the remainder separately: multiplying the whole difference first would overflow
    // after 2^63 / 10^7 ticks (minutes at a counter of a few GHz). The result is the same as
    // counterDifference * 10^7 / frequency would be without overflow.
    const LONGLONG seconds = counterDifference / frequency;
    const LONGLONG remainder = counterDifference % frequency;
    return seconds * TimeUnitsPerSecond + remainder * TimeUnitsPerSecond / frequency;
}

unsigned CTraceLog::Depth(DWORD threadId)
{
    if (threadId >= DepthEntries)
        return 0;
    Synchronization::CAutoLock lock(&m_depthLock);
    return m_depth[threadId];
}

void CTraceLog::IncreaseDepth(DWORD threadId)
{
    if (threadId >= DepthEntries)
        return;
    Synchronization::CAutoLock lock(&m_depthLock);
    if (m_depth[threadId] < MaxDepth)
        ++m_depth[threadId];
}

void CTraceLog::DecreaseDepth(DWORD threadId)
{
    if (threadId >= DepthEntries)
        return;
    Synchronization::CAutoLock lock(&m_depthLock);
    if (m_depth[threadId] > 0)
        --m_depth[threadId];
}

int CTraceLog::FormatThreadColumn(wchar_t* buffer, size_t capacity, DWORD threadId)
{
    return FormatInto(buffer, capacity, L"| %04X | ", static_cast<unsigned>(threadId));
}

int CTraceLog::FormatTimeColumn(wchar_t* buffer, size_t capacity, LONGLONG time)
{
    wchar_t sign = L' ';
    ULONGLONG magnitude = static_cast<ULONGLONG>(time);
    if (time < 0) {
        sign = L'-';
        magnitude = 0 - magnitude;
    }
    const int hours = static_cast<int>(magnitude / TimeUnitsPerHour % 24);
    const int minutes = static_cast<int>(magnitude / TimeUnitsPerMinute % 60);
    const int seconds = static_cast<int>(magnitude / TimeUnitsPerSecond % 60);
    const int fraction = static_cast<int>(magnitude % TimeUnitsPerSecond);
    return FormatInto(buffer, capacity, L"%lc%02d:%02d:%02d.%07d | ", sign, hours, minutes, seconds, fraction);
}

int CTraceLog::AssembleLine(wchar_t* buffer, size_t capacity, DWORD threadId, LONGLONG time, unsigned depth,
                            const wchar_t* message, bool toFile)
{
    if (!buffer || capacity == 0 || !message)
        return -1;
    buffer[0] = L'\0';
    size_t used = 0;

    wchar_t threadColumn[ThreadColumnCapacity];
    const int threadLength = FormatThreadColumn(threadColumn, ThreadColumnCapacity, threadId);
    if (threadLength < 0 || !Append(buffer, capacity, used, threadColumn, threadLength))
        return -1;

    wchar_t timeColumn[TimeColumnCapacity];
    const int timeLength = FormatTimeColumn(timeColumn, TimeColumnCapacity, time);
    if (timeLength < 0 || !Append(buffer, capacity, used, timeColumn, timeLength))
        return -1;

    if (depth > 0) {
        const size_t indentLength = 2 * static_cast<size_t>(depth);
        if (indentLength >= IndentCapacity)
            return -1;
        wchar_t indent[IndentCapacity];
        std::wmemset(indent, L' ', indentLength);
        if (!Append(buffer, capacity, used, indent, indentLength))
            return -1;
    }

    if (!Append(buffer, capacity, used, message, std::wcslen(message)))
        return -1;

    const wchar_t* const lineEnd = toFile ? L"\r\n" : L"\n";
    if (!Append(buffer, capacity, used, lineEnd, std::wcslen(lineEnd)))
        return -1;
    return static_cast<int>(used);
}

CTraceScope::CTraceScope(CTraceLog& log)
    : m_log(&log), m_name{}, m_arguments{}, m_header{}, m_begun(false), m_ended(false),
      m_resultKind(ResultNone), m_result(nullptr)
{
}

CTraceScope::CTraceScope(CTraceLog& log, const char* name) : CTraceScope(log)
{
    SetName(name);
}

CTraceScope::~CTraceScope()
{
    End();
}

void CTraceScope::SetName(const char* name)
{
    if (!name)
        return;
    wchar_t converted[NameCapacity];
    const int length = ::MultiByteToWideChar(CP_ACP, 0, name, -1, converted, static_cast<int>(NameCapacity));
    if (length <= 0)
        return;
    std::memcpy(m_name, converted, length * sizeof(wchar_t));
    m_name[NameCapacity - 1] = L'\0';
}

void CTraceScope::Begin(HRESULT* result, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    BeginV(ResultHResult, result, format, args);
    va_end(args);
}

void CTraceScope::Begin(int* result, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    BeginV(ResultInt, result, format, args);
    va_end(args);
}

void CTraceScope::BeginNoResult(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    BeginV(ResultNone, nullptr, format, args);
    va_end(args);
}

void CTraceScope::BeginV(EResultKind kind, void* result, const wchar_t* format, va_list args)
{
    if (m_begun) {
        // A scope begins once; a second Begin is a mistake in the traced function.
        if (::IsDebuggerPresent())
            ::DebugBreak();
        return;
    }
    if (format && FormatIntoV(m_arguments, ArgumentsCapacity, format, args) < 0)
        return;
    const int headerLength = m_arguments[0] == L'\0'
                                 ? FormatInto(m_header, HeaderCapacity, L"%ls()", m_name)
                                 : FormatInto(m_header, HeaderCapacity, L"%ls( %ls )", m_name, m_arguments);
    if (headerLength < 0)
        return;

    m_log->Print(L"%ls begin\x2026", m_header);
    m_log->IncreaseDepth(::GetCurrentThreadId());
    m_resultKind = kind;
    m_result = result;
    m_begun = true;
}

void CTraceScope::End()
{
    if (!m_begun || m_ended)
        return;
    m_ended = true;
    m_log->DecreaseDepth(::GetCurrentThreadId());

    // A kind without a result variable has nothing to print.
    const EResultKind kind = m_result ? m_resultKind : ResultNone;
    switch (kind) {
    case ResultBool:
        m_log->Print(L"%ls done, return %ls.", m_header, *static_cast<const bool*>(m_result) ? L"true" : L"false");
        break;
    case ResultInt:
        m_log->Print(L"%ls done, return %d.", m_header, *static_cast<const int*>(m_result));
        break;
    case ResultFloat:
        m_log->Print(L"%ls done, return %f.", m_header, static_cast<double>(*static_cast<const float*>(m_result)));
        break;
    case ResultDouble:
        m_log->Print(L"%ls done, return %f.", m_header, *static_cast<const double*>(m_result));
        break;
    case ResultUInt32:
        m_log->Print(L"%ls done, return 0x%08X.", m_header, *static_cast<const UINT32*>(m_result));
        break;
    case ResultHResult:
        m_log->Print(L"%ls done, return 0x%08X.", m_header,
                     static_cast<unsigned>(*static_cast<const HRESULT*>(m_result)));
        break;
    default:
        m_log->Print(L"%ls done.", m_header);
        break;
    }
}
