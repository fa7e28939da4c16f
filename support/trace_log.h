#pragma once
// The trace log: UTF-16LE text lines (no byte-order mark, CRLF) of the form
//
//   | 0012 |  13:05:42.1234567 |     message
//
// thread id (at least four upper-case hex digits), sign and local time of day with 100-ns digits,
// two blanks per nesting level of the writing thread, the message. The file is created anew in the
// current directory, failing that in the temporary directory; without a file the lines go to an attached
// debugger or nowhere. Any thread may write at any time; every line is written with one call.
//
// CTraceScope writes "<name>( <arguments> ) begin…" when a traced operation begins and
// "<name>( <arguments> ) done, return 0x%08X." (or its typed variant) when it ends, and indents the lines
// of nested operations on the same thread.
//
// Bound: a recording traces every buffer, tens of kilobytes a second, and an application may poll a call
// several times a second for as long as it runs. Each file is bounded by size, whatever the calls:
//   - past DetailBytes, the lines of repeated operations are left out: a line written by a code site (a
//     traced operation's name, or a Print format) that has come RepeatCount times or more within
//     RepeatWindow (the per-buffer lines, a buffer comes 25 times a second, and fast polling);
//   - past CapBytes, every line is left out but the kept ones: the lines of a failed operation (its begin
//     and done lines, written when it ends), PrintOutcome lines of a failure, PrintKept lines, and every
//     line of a state change (a scope marked MarkStateChange, and every line its thread writes until it
//     ends);
//   - kept lines take up to ReserveBytes more, of which the last ClosingBytes are only for the closing
//     lines: the count of lines left out and "Log stopped.". The file never passes CapBytes + ReserveBytes.
// One line says where each stage begins, and the close says how many lines were left out.
#include <windows.h>

#include <cstdarg>
#include <cstddef>

#include "support/critical_section.h"

class CTraceLog {
public:
    static constexpr size_t NameCapacity = 260;     // characters with the terminator
    static constexpr size_t MessageCapacity = 1056; // a message may have 1,055 characters
    static constexpr size_t LineCapacity = 1601;
    static constexpr size_t DepthEntries = 65535;   // thread ids 0..65,534 have a nesting depth
    static constexpr unsigned char MaxDepth = 255;
    // The sizes of the bound (see above).
    static constexpr LONG DetailBytes = 4 * 1024 * 1024;
    static constexpr LONG CapBytes = 6 * 1024 * 1024;
    static constexpr LONG ReserveBytes = 256 * 1024;
    static constexpr LONG ClosingBytes = 4 * 1024;
    static constexpr unsigned RepeatCount = 16;
    static constexpr LONGLONG RepeatWindow = 2 * 10000000LL; // 100-ns units
    static constexpr size_t SiteCapacity = 512;              // code sites told apart; later ones never count as repeated
    static constexpr size_t StateChangeThreads = 16;         // threads at once inside a state change

    // The time source of the lines: 100-ns units since local midnight at open (for tests; the default
    // reads the performance counter).
    using Clock = LONGLONG (*)(void* context);

    explicit CTraceLog(const wchar_t* nameFormat, ...);
    ~CTraceLog();
    CTraceLog(const CTraceLog&) = delete;
    CTraceLog& operator=(const CTraceLog&) = delete;

    // Writes one line; a message that cannot be formatted or is longer than 1,055 characters is dropped.
    // Wide printf conventions of the system runtime: "%s" and "%ls" take a wide string, "%hs" a narrow one.
    void Print(const wchar_t* format, ...);
    void PrintV(const wchar_t* format, va_list args);
    // As Print, for a line that reports a result: a failed result is kept (see above).
    void PrintOutcome(HRESULT result, const wchar_t* format, ...);
    // As Print, for a line that is kept (audio lost, a stream refused).
    void PrintKept(const wchar_t* format, ...);

    // The bound of this file (DetailBytes, CapBytes and ReserveBytes unless changed; for tests). Bytes
    // written so far count.
    void SetBounds(LONG detailBytes, LONG capBytes, LONG reserveBytes);
    // The clock of the lines from now on (null: the performance counter); set before other threads write.
    void SetClock(Clock clock, void* context);
    // Bytes written to the file so far, and lines left out.
    LONG WrittenBytes() const;
    LONG LeftOutLines() const;

    bool HasFile() const { return m_file != INVALID_HANDLE_VALUE; }

    // Nesting depth of a thread (0 for threads without an entry) and its change by one level; the depth
    // stays between 0 and 255.
    unsigned Depth(DWORD threadId);
    void IncreaseDepth(DWORD threadId);
    void DecreaseDepth(DWORD threadId);

    // Time of the next line in 100-ns units since local midnight at open (may exceed a day; negative
    // if the performance counter ran backwards).
    LONGLONG CurrentTime() const;

    // Line assembly. Each returns the number of characters written (terminator not counted) or -1 when
    // the piece does not fit into capacity characters including the terminator.
    //   "| %04X | "                   thread column (more digits when the id needs them)
    //   "%lc%02d:%02d:%02d.%07d | "  time column: ' ' or '-', hours modulo 24, minutes, seconds, 100 ns
    static int FormatThreadColumn(wchar_t* buffer, size_t capacity, DWORD threadId);
    static int FormatTimeColumn(wchar_t* buffer, size_t capacity, LONGLONG time);
    // The whole line: thread column, time column, 2 x depth blanks, message, "\r\n" (toFile) or "\n".
    static int AssembleLine(wchar_t* buffer, size_t capacity, DWORD threadId, LONGLONG time,
                            unsigned depth, const wchar_t* message, bool toFile);
    // The 100-ns time elapsed for a counter difference at the given frequency (no 64-bit overflow for
    // any realistic frequency).
    static LONGLONG CounterToTime(LONGLONG counterDifference, LONGLONG frequency);

private:
    friend class CTraceScope;

    // One piece of a message written without printf formatting.
    struct SPiece {
        const wchar_t* text;
        size_t length;
    };

    // What a line is, for the bound: the stage past which it is left out.
    enum ELineKind { LineRepeated, LineOrdinary, LineKept, LineClosing };

    struct SStateChangeThread {
        DWORD threadId;
        unsigned depth;
    };

    struct SSite {
        const void* key;
        LONGLONG windowStart;
        unsigned count;
        bool repeated;
    };

    HANDLE CreateLogFile(const wchar_t* path) const;
    // What a line of this code site on the calling thread is now; counts the site. A null site is ordinary.
    ELineKind Classify(const void* site, LONGLONG time);
    // Counts one line of the site; true when the site is repeated.
    bool NoteSite(const void* site, LONGLONG time);
    // The calling thread is inside a state change (see MarkStateChange); entered and left per scope.
    bool InStateChange(DWORD threadId);
    void EnterStateChange(DWORD threadId);
    void LeaveStateChange(DWORD threadId);
    void WriteFormatted(ELineKind kind, LONGLONG time, const wchar_t* format, va_list args);
    void PrintKind(ELineKind kind, const wchar_t* format, ...);
    // Thread column, time column and indentation of the calling thread's next line; the length.
    static size_t WriteLineStart(wchar_t* line, DWORD threadId, LONGLONG time, unsigned depth);
    // The message made of the pieces, written as one line (dropped like any message that is too long).
    // False when the bound left it out.
    bool PrintPieces(ELineKind kind, const SPiece* pieces, size_t count);
    // Ends the line at used characters and writes it unless the bound leaves it out (false then; the
    // first line left out at each stage is followed by the line that says so).
    bool WriteLine(ELineKind kind, wchar_t* line, size_t used, bool toFile);
    // The size up to which lines of this kind are written.
    LONG LimitOf(ELineKind kind) const;

    LONGLONG m_frequency;
    LONGLONG m_counterAtOpen;
    LONGLONG m_timeOfDayAtOpen;
    Synchronization::CCriticalSection m_depthLock;
    unsigned char m_depth[DepthEntries];
    Synchronization::CCriticalSection m_writeLock;
    HANDLE m_file;
    Synchronization::CCriticalSection m_siteLock; // guards the site and state-change tables; never held with another lock
    SSite m_sites[SiteCapacity];
    SStateChangeThread m_stateChanges[StateChangeThreads];
    volatile LONG m_stateChangeCount;
    volatile LONG m_written;    // bytes written to the file (saturates)
    volatile LONG m_detailBound;
    volatile LONG m_capBound;
    volatile LONG m_reserveBytes;
    volatile LONG m_leftOut;
    volatile LONG m_noticed[3]; // the line of each stage (repeated, cap, reserve) was written
    Clock m_clock;
    void* m_clockContext;
};

class CTraceScope {
public:
    static constexpr size_t NameCapacity = 512;
    static constexpr size_t ArgumentsCapacity = 512;
    static constexpr size_t HeaderCapacity = 1024;

    enum EResultKind : LONG {
        ResultNone = 0,
        ResultBool = 1,
        ResultInt = 2,
        ResultFloat = 3,
        ResultDouble = 4,
        ResultUInt32 = 5,
        ResultHResult = 6,
    };

    explicit CTraceScope(CTraceLog& log);
    CTraceScope(CTraceLog& log, const char* name);
    ~CTraceScope();
    CTraceScope(const CTraceScope&) = delete;
    CTraceScope& operator=(const CTraceScope&) = delete;

    // The traced operation's name (narrow, ANSI code page); a name that cannot be converted leaves the
    // name as it was.
    void SetName(const char* name);
    // Before Begin: the operation changes the state of the library or of a stream. Its lines and every
    // line its thread writes until it ends are kept past the log's cap (see CTraceLog).
    void MarkStateChange() { m_stateChange = true; }

    // Writes "<header> begin…" and indents the thread's following lines by one level. The optional
    // format gives the argument text (at most 511 characters; longer arguments mean neither a begin nor a
    // done line). A second Begin on the same scope writes nothing.
    void Begin(HRESULT* result, const wchar_t* format = nullptr, ...);
    void Begin(int* result, const wchar_t* format = nullptr, ...);
    void BeginNoResult(const wchar_t* format = nullptr, ...);
    void BeginV(EResultKind kind, void* result, const wchar_t* format, va_list args);

    // Writes the done line with the result read now (at the indentation of the begin line); only once and
    // only after a Begin that wrote its line.
    void End();

    bool Begun() const { return m_begun; }
    // The begin line was left out (by the log's bound, see CTraceLog).
    bool LeftOut() const { return m_leftOut; }
    const wchar_t* Header() const { return m_header; }

private:
    CTraceLog* m_log;
    wchar_t m_name[NameCapacity];
    wchar_t m_arguments[ArgumentsCapacity];
    wchar_t m_header[HeaderCapacity];
    size_t m_nameLength;
    size_t m_headerLength;
    bool m_begun;
    bool m_ended;
    bool m_leftOut;
    bool m_stateChange;
    CTraceLog::ELineKind m_lineKind; // of the begin line; the done line is of the same kind
    const void* m_site; // the name as given: the code site the log counts
    EResultKind m_resultKind;
    void* m_result;
};
