#include "support/trace_log.h"

#include <cstring>
#include <cwchar>
#include <stdio.h>

namespace {

constexpr LONGLONG TimeUnitsPerSecond = 10000000;           // 100-ns units
constexpr ULONGLONG TimeUnitsPerMinute = 60 * 10000000ULL;
constexpr ULONGLONG TimeUnitsPerHour = 60 * TimeUnitsPerMinute;
constexpr size_t ThreadColumnMaximum = 13;                   // "| XXXXXXXX | "
constexpr size_t TimeColumnLength = 20;                      // " HH:MM:SS.FFFFFFF | "
constexpr size_t IndentCapacity = 512;
constexpr size_t TempPathCapacity = MAX_PATH + 1;
constexpr wchar_t HexDigits[] = L"0123456789ABCDEF";

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

// The pieces of a line are put together by hand: the columns and the fixed texts of the scopes cost a
// few stores each instead of a pass of the runtime's printf.

// "| %04X | ": at least four upper-case hex digits, as many as the id needs. Returns the length.
size_t PutThreadColumn(wchar_t* out, DWORD threadId)
{
    int digits = 4;
    while (digits < 8 && (threadId >> (4 * digits)) != 0)
        ++digits;
    wchar_t* p = out;
    *p++ = L'|';
    *p++ = L' ';
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        *p++ = HexDigits[(threadId >> shift) & 0xF];
    *p++ = L' ';
    *p++ = L'|';
    *p++ = L' ';
    return static_cast<size_t>(p - out);
}

void PutDecimal(wchar_t* out, unsigned value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    }
}

// "%lc%02d:%02d:%02d.%07d | " with the sign (blank or "-") and the magnitude's hours modulo 24.
size_t PutTimeColumn(wchar_t* out, LONGLONG time)
{
    wchar_t sign = L' ';
    ULONGLONG magnitude = static_cast<ULONGLONG>(time);
    if (time < 0) {
        sign = L'-';
        magnitude = 0 - magnitude;
    }
    out[0] = sign;
    PutDecimal(out + 1, static_cast<unsigned>(magnitude / TimeUnitsPerHour % 24), 2);
    out[3] = L':';
    PutDecimal(out + 4, static_cast<unsigned>(magnitude / TimeUnitsPerMinute % 60), 2);
    out[6] = L':';
    PutDecimal(out + 7, static_cast<unsigned>(magnitude / TimeUnitsPerSecond % 60), 2);
    out[9] = L'.';
    PutDecimal(out + 10, static_cast<unsigned>(magnitude % TimeUnitsPerSecond), 7);
    out[17] = L' ';
    out[18] = L'|';
    out[19] = L' ';
    return TimeColumnLength;
}

// "%08X"
void PutHex8(wchar_t* out, unsigned value)
{
    for (int i = 7; i >= 0; --i) {
        out[i] = HexDigits[value & 0xF];
        value >>= 4;
    }
}

// "%d"; returns the length (at most 11).
size_t PutSigned(wchar_t* out, int value)
{
    wchar_t digits[11];
    size_t count = 0;
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t length = 0;
    if (value < 0)
        out[length++] = L'-';
    while (count > 0)
        out[length++] = digits[--count];
    return length;
}

// Copies length characters to buffer at used when they fit with a terminator; false otherwise.
bool Append(wchar_t* buffer, size_t capacity, size_t& used, const wchar_t* piece, size_t length)
{
    if (used + length + 1 > capacity)
        return false;
    std::memcpy(buffer + used, piece, length * sizeof(wchar_t));
    used += length;
    buffer[used] = L'\0';
    return true;
}

} // namespace

CTraceLog::CTraceLog(const wchar_t* nameFormat, ...)
    : m_frequency(1), m_counterAtOpen(0), m_timeOfDayAtOpen(0), m_depth{}, m_file(INVALID_HANDLE_VALUE), m_sites{},
      m_stateChanges{}, m_stateChangeCount(0), m_written(0), m_detailBound(DetailBytes), m_capBound(CapBytes),
      m_reserveBytes(ReserveBytes), m_leftOut(0), m_noticed{}, m_clock(nullptr), m_clockContext(nullptr)
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
    const LONG leftOut = LeftOutLines();
    if (leftOut > 0)
        PrintKind(LineClosing, L"%ld lines were left out to bound the log's size.", static_cast<long>(leftOut));
    PrintKind(LineClosing, L"Log stopped.");
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
    if (!format)
        return;
    WriteFormatted(Classify(format, time), time, format, args);
}

void CTraceLog::PrintOutcome(HRESULT result, const wchar_t* format, ...)
{
    const LONGLONG time = CurrentTime();
    if (!format)
        return;
    const ELineKind kind = FAILED(result) ? LineKept : Classify(format, time);
    va_list args;
    va_start(args, format);
    WriteFormatted(kind, time, format, args);
    va_end(args);
}

void CTraceLog::PrintKept(const wchar_t* format, ...)
{
    const LONGLONG time = CurrentTime();
    if (!format)
        return;
    va_list args;
    va_start(args, format);
    WriteFormatted(LineKept, time, format, args);
    va_end(args);
}

void CTraceLog::PrintKind(ELineKind kind, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteFormatted(kind, CurrentTime(), format, args);
    va_end(args);
}

void CTraceLog::WriteFormatted(ELineKind kind, LONGLONG time, const wchar_t* format, va_list args)
{
    const DWORD threadId = ::GetCurrentThreadId();
    wchar_t line[LineCapacity];
    const bool toFile = HasFile();
    const size_t used = WriteLineStart(line, threadId, time, Depth(threadId));
    // The message is formatted straight into the line: at most MessageCapacity - 1 characters, and no
    // more than leave room for the line end and the terminator.
    const size_t lineEnd = toFile ? 2 : 1;
    size_t room = LineCapacity - 1 - lineEnd - used;
    if (room > MessageCapacity - 1)
        room = MessageCapacity - 1;
    const int length = _vsnwprintf(line + used, room, format, args);
    if (length < 0)
        return;
    WriteLine(kind, line, used + static_cast<size_t>(length), toFile);
}

bool CTraceLog::NoteSite(const void* site, LONGLONG time)
{
    // Open addressing on the site's address; a full table leaves new sites uncounted.
    size_t index = (reinterpret_cast<UINT_PTR>(site) >> 3) % SiteCapacity;
    Synchronization::CAutoLock lock(&m_siteLock);
    for (size_t probes = 0; probes < SiteCapacity; ++probes, index = (index + 1) % SiteCapacity) {
        SSite& entry = m_sites[index];
        if (entry.key == nullptr) {
            entry.key = site;
            entry.windowStart = time;
            entry.count = 0;
        } else if (entry.key != site) {
            continue;
        }
        if (!entry.repeated) {
            if (time - entry.windowStart >= RepeatWindow || time < entry.windowStart) {
                entry.windowStart = time;
                entry.count = 0;
            }
            entry.repeated = ++entry.count >= RepeatCount;
        }
        return entry.repeated;
    }
    return false;
}

CTraceLog::ELineKind CTraceLog::Classify(const void* site, LONGLONG time)
{
    if (InStateChange(::GetCurrentThreadId()))
        return LineKept;
    return site != nullptr && NoteSite(site, time) ? LineRepeated : LineOrdinary;
}

bool CTraceLog::InStateChange(DWORD threadId)
{
    if (::InterlockedCompareExchange(&m_stateChangeCount, 0, 0) == 0)
        return false;
    Synchronization::CAutoLock lock(&m_siteLock);
    for (const SStateChangeThread& entry : m_stateChanges) {
        if (entry.depth > 0 && entry.threadId == threadId)
            return true;
    }
    return false;
}

void CTraceLog::EnterStateChange(DWORD threadId)
{
    Synchronization::CAutoLock lock(&m_siteLock);
    SStateChangeThread* free = nullptr;
    for (SStateChangeThread& entry : m_stateChanges) {
        if (entry.depth > 0 && entry.threadId == threadId) {
            ++entry.depth;
            return;
        }
        if (entry.depth == 0 && free == nullptr)
            free = &entry;
    }
    // A full table: the thread's other lines are not kept (its failures still are).
    if (free != nullptr) {
        free->threadId = threadId;
        free->depth = 1;
        ::InterlockedIncrement(&m_stateChangeCount);
    }
}

void CTraceLog::LeaveStateChange(DWORD threadId)
{
    Synchronization::CAutoLock lock(&m_siteLock);
    for (SStateChangeThread& entry : m_stateChanges) {
        if (entry.depth > 0 && entry.threadId == threadId) {
            if (--entry.depth == 0)
                ::InterlockedDecrement(&m_stateChangeCount);
            return;
        }
    }
}

LONG CTraceLog::LimitOf(ELineKind kind) const
{
    const LONG cap = m_capBound;
    switch (kind) {
    case LineRepeated:
        return m_detailBound < cap ? m_detailBound : cap;
    case LineOrdinary:
        return cap;
    case LineKept:
        return cap + (m_reserveBytes > ClosingBytes ? m_reserveBytes - ClosingBytes : 0);
    default:
        return cap + m_reserveBytes;
    }
}

void CTraceLog::SetBounds(LONG detailBytes, LONG capBytes, LONG reserveBytes)
{
    ::InterlockedExchange(&m_detailBound, detailBytes);
    ::InterlockedExchange(&m_capBound, capBytes);
    ::InterlockedExchange(&m_reserveBytes, reserveBytes);
}

void CTraceLog::SetClock(Clock clock, void* context)
{
    m_clockContext = context;
    m_clock = clock;
}

LONG CTraceLog::WrittenBytes() const
{
    return ::InterlockedCompareExchange(const_cast<volatile LONG*>(&m_written), 0, 0);
}

LONG CTraceLog::LeftOutLines() const
{
    return ::InterlockedCompareExchange(const_cast<volatile LONG*>(&m_leftOut), 0, 0);
}

bool CTraceLog::PrintPieces(ELineKind kind, const SPiece* pieces, size_t count)
{
    const LONGLONG time = CurrentTime();
    const DWORD threadId = ::GetCurrentThreadId();
    wchar_t line[LineCapacity];
    const bool toFile = HasFile();
    size_t used = WriteLineStart(line, threadId, time, Depth(threadId));
    const size_t lineEnd = toFile ? 2 : 1;
    size_t room = LineCapacity - 1 - lineEnd - used;
    if (room > MessageCapacity - 1)
        room = MessageCapacity - 1;
    for (size_t i = 0; i < count; ++i) {
        if (pieces[i].length > room)
            return true;
        std::memcpy(line + used, pieces[i].text, pieces[i].length * sizeof(wchar_t));
        used += pieces[i].length;
        room -= pieces[i].length;
    }
    return WriteLine(kind, line, used, toFile);
}

size_t CTraceLog::WriteLineStart(wchar_t* line, DWORD threadId, LONGLONG time, unsigned depth)
{
    size_t used = PutThreadColumn(line, threadId);
    used += PutTimeColumn(line + used, time);
    // Depth is at most MaxDepth: the indentation always fits (2 x 255 blanks).
    for (size_t i = 0; i < 2 * static_cast<size_t>(depth); ++i)
        line[used++] = L' ';
    return used;
}

bool CTraceLog::WriteLine(ELineKind kind, wchar_t* line, size_t used, bool toFile)
{
    if (toFile)
        line[used++] = L'\r';
    line[used++] = L'\n';
    line[used] = L'\0';

    // The stage whose first line left out is to be told (0: none).
    int stage = 0;
    {
        Synchronization::CAutoLock lock(&m_writeLock);
        if (toFile) {
            const LONG bytes = static_cast<LONG>(used * sizeof(wchar_t));
            const LONG total = m_written;
            if (total > LimitOf(kind) - bytes) {
                ::InterlockedIncrement(&m_leftOut);
                stage = kind == LineRepeated && total <= LimitOf(LineOrdinary) - bytes ? 1
                        : kind == LineKept || kind == LineClosing                      ? 3
                                                                                       : 2;
            } else {
                DWORD written = 0;
                ::WriteFile(m_file, line, static_cast<DWORD>(bytes), &written, nullptr);
                m_written = total > MAXLONG - static_cast<LONG>(written) ? MAXLONG : total + static_cast<LONG>(written);
            }
        } else if (::IsDebuggerPresent()) {
            ::OutputDebugStringW(line);
        }
    }
    if (stage == 0)
        return true;
    if (::InterlockedExchange(&m_noticed[stage - 1], 1) == 0) {
        switch (stage) {
        case 1:
            PrintKind(LineKept,
                      L"log size %ld bytes reached: operations repeated with every buffer are left out from here on "
                      L"(calls, state changes and errors are still written).",
                      static_cast<long>(LimitOf(LineRepeated)));
            break;
        case 2:
            PrintKind(LineKept,
                      L"log size %ld bytes reached: only state changes and errors are written from here on, and the "
                      L"count of lines left out at the end.",
                      static_cast<long>(LimitOf(LineOrdinary)));
            break;
        default:
            PrintKind(LineClosing,
                      L"log size %ld bytes reached: nothing more is written but the count of lines left out.",
                      static_cast<long>(LimitOf(LineKept)));
            break;
        }
    }
    return false;
}

LONGLONG CTraceLog::CurrentTime() const
{
    if (m_clock != nullptr)
        return m_clock(m_clockContext);
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
    wchar_t column[ThreadColumnMaximum];
    const size_t length = PutThreadColumn(column, threadId);
    size_t used = 0;
    if (!buffer || capacity == 0 || !Append(buffer, capacity, used, column, length))
        return -1;
    return static_cast<int>(used);
}

int CTraceLog::FormatTimeColumn(wchar_t* buffer, size_t capacity, LONGLONG time)
{
    wchar_t column[TimeColumnLength];
    const size_t length = PutTimeColumn(column, time);
    size_t used = 0;
    if (!buffer || capacity == 0 || !Append(buffer, capacity, used, column, length))
        return -1;
    return static_cast<int>(used);
}

int CTraceLog::AssembleLine(wchar_t* buffer, size_t capacity, DWORD threadId, LONGLONG time, unsigned depth,
                            const wchar_t* message, bool toFile)
{
    if (!buffer || capacity == 0 || !message)
        return -1;
    buffer[0] = L'\0';
    const size_t indentLength = 2 * static_cast<size_t>(depth);
    if (indentLength >= IndentCapacity)
        return -1;
    wchar_t start[ThreadColumnMaximum + TimeColumnLength + IndentCapacity];
    const size_t startLength = WriteLineStart(start, threadId, time, depth);
    size_t used = 0;
    if (!Append(buffer, capacity, used, start, startLength) ||
        !Append(buffer, capacity, used, message, std::wcslen(message)))
        return -1;
    if (!Append(buffer, capacity, used, toFile ? L"\r\n" : L"\n", toFile ? 2 : 1))
        return -1;
    return static_cast<int>(used);
}

CTraceScope::CTraceScope(CTraceLog& log)
    : m_log(&log), m_nameLength(0), m_headerLength(0), m_begun(false), m_ended(false), m_leftOut(false),
      m_stateChange(false), m_lineKind(CTraceLog::LineOrdinary), m_site(nullptr), m_resultKind(ResultNone),
      m_result(nullptr)
{
    // Only the terminators: a scope is built for every traced call, and its 4 KiB of text buffers are
    // filled as far as they are used.
    m_name[0] = L'\0';
    m_arguments[0] = L'\0';
    m_header[0] = L'\0';
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
    m_site = name;
    // Every ANSI code page maps the bytes below 0x80 to the same UTF-16 values, so a plain ASCII name (as
    // every traced function's is) is widened byte by byte; anything else goes through the code page.
    size_t length = 0;
    while (length < NameCapacity && name[length] != '\0' && static_cast<unsigned char>(name[length]) < 0x80)
        ++length;
    if (length < NameCapacity && name[length] == '\0') {
        for (size_t i = 0; i <= length; ++i)
            m_name[i] = static_cast<wchar_t>(name[i]);
        m_nameLength = length;
        return;
    }
    if (length == NameCapacity)
        return;   // no terminator within the field: the name does not fit
    wchar_t converted[NameCapacity];
    const int converted_length =
        ::MultiByteToWideChar(CP_ACP, 0, name, -1, converted, static_cast<int>(NameCapacity));
    if (converted_length <= 0)
        return;
    std::memcpy(m_name, converted, converted_length * sizeof(wchar_t));
    m_name[NameCapacity - 1] = L'\0';
    m_nameLength = std::wcslen(m_name);
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
    // "<name>()" or "<name>( <arguments> )".
    size_t used = 0;
    m_header[0] = L'\0';
    bool fits = Append(m_header, HeaderCapacity, used, m_name, m_nameLength);
    if (m_arguments[0] == L'\0') {
        fits = fits && Append(m_header, HeaderCapacity, used, L"()", 2);
    } else {
        fits = fits && Append(m_header, HeaderCapacity, used, L"( ", 2) &&
               Append(m_header, HeaderCapacity, used, m_arguments, std::wcslen(m_arguments)) &&
               Append(m_header, HeaderCapacity, used, L" )", 2);
    }
    if (!fits) {
        m_header[HeaderCapacity - 1] = L'\0';
        return;
    }
    m_headerLength = used;

    const DWORD threadId = ::GetCurrentThreadId();
    if (m_stateChange)
        m_log->EnterStateChange(threadId);
    m_lineKind = m_log->Classify(m_site, m_log->CurrentTime());
    const CTraceLog::SPiece line[] = {{m_header, m_headerLength}, {L" begin\x2026", 7}};
    m_leftOut = !m_log->PrintPieces(m_lineKind, line, 2);
    m_log->IncreaseDepth(threadId);
    m_resultKind = kind;
    m_result = result;
    m_begun = true;
}

void CTraceScope::End()
{
    if (!m_begun || m_ended)
        return;
    m_ended = true;
    const DWORD threadId = ::GetCurrentThreadId();
    m_log->DecreaseDepth(threadId);

    // A kind without a result variable has nothing to print.
    const EResultKind kind = m_result ? m_resultKind : ResultNone;
    const bool failed = kind == ResultHResult && FAILED(*static_cast<const HRESULT*>(m_result));
    // The done line of an operation whose begin line was left out is written only when it failed, after
    // its begin line; a failure is kept.
    CTraceLog::ELineKind lineKind = CTraceLog::LineKept;
    if (!failed) {
        if (m_leftOut) {
            ::InterlockedIncrement(&m_log->m_leftOut);
            if (m_stateChange)
                m_log->LeaveStateChange(threadId);
            return;
        }
        lineKind = m_lineKind;
    } else if (m_leftOut) {
        const CTraceLog::SPiece line[] = {{m_header, m_headerLength}, {L" begin\x2026", 7}};
        m_log->PrintPieces(lineKind, line, 2);
    }
    const CTraceLog::SPiece header = {m_header, m_headerLength};
    wchar_t value[16];
    switch (kind) {
    case ResultBool: {
        const bool flag = *static_cast<const bool*>(m_result);
        const CTraceLog::SPiece line[] = {
            header, {L" done, return ", 14}, {flag ? L"true" : L"false", flag ? 4u : 5u}, {L".", 1}};
        m_log->PrintPieces(lineKind, line, 4);
        break;
    }
    case ResultInt: {
        const size_t length = PutSigned(value, *static_cast<const int*>(m_result));
        const CTraceLog::SPiece line[] = {header, {L" done, return ", 14}, {value, length}, {L".", 1}};
        m_log->PrintPieces(lineKind, line, 4);
        break;
    }
    case ResultFloat:
        m_log->PrintKind(lineKind, L"%ls done, return %f.", m_header,
                         static_cast<double>(*static_cast<const float*>(m_result)));
        break;
    case ResultDouble:
        m_log->PrintKind(lineKind, L"%ls done, return %f.", m_header, *static_cast<const double*>(m_result));
        break;
    case ResultUInt32:
    case ResultHResult: {
        PutHex8(value, kind == ResultUInt32 ? *static_cast<const UINT32*>(m_result)
                                            : static_cast<unsigned>(*static_cast<const HRESULT*>(m_result)));
        const CTraceLog::SPiece line[] = {header, {L" done, return 0x", 16}, {value, 8}, {L".", 1}};
        m_log->PrintPieces(lineKind, line, 4);
        break;
    }
    default: {
        const CTraceLog::SPiece line[] = {header, {L" done.", 6}};
        m_log->PrintPieces(lineKind, line, 2);
        break;
    }
    }
    if (m_stateChange)
        m_log->LeaveStateChange(threadId);
}
