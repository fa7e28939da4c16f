#include "support/trace_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The raw bytes of a file.
std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return bytes;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes.append(chunk, got);
    std::fclose(file);
    return bytes;
}

// A log file as UTF-16LE lines ending in CRLF (the CRLF removed). Fails the test on an odd byte count, a
// byte-order mark, a bare LF or an unterminated last line.
std::vector<std::wstring> ReadLogLines(const std::wstring& path)
{
    const std::string bytes = ReadBytes(path);
    std::vector<std::wstring> lines;
    EXPECT_EQ(bytes.size() % 2, 0u) << "not UTF-16";
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                            static_cast<unsigned char>(bytes[i + 1]) << 8));
    EXPECT_TRUE(text.empty() || text[0] != 0xFEFF) << "byte-order mark";
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            ADD_FAILURE() << "last line without CRLF";
            break;
        }
        const std::wstring line = text.substr(start, end - start);
        EXPECT_EQ(line.find(L'\n'), std::wstring::npos) << "bare LF in a line";
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

std::wstring Hex4(DWORD id)
{
    wchar_t buffer[16];
    swprintf(buffer, 16, L"%04X", static_cast<unsigned>(id));
    return buffer;
}

// One log line taken apart: "| <thread> | <sign>HH:MM:SS.FFFFFFF | <text>".
struct SLine {
    std::wstring thread;
    std::wstring time;
    std::wstring text; // indentation and message
};

bool ParseLine(const std::wstring& line, SLine& parsed)
{
    if (line.compare(0, 2, L"| ") != 0)
        return false;
    const size_t threadEnd = line.find(L" | ", 2);
    if (threadEnd == std::wstring::npos)
        return false;
    parsed.thread = line.substr(2, threadEnd - 2);
    const size_t timeStart = threadEnd + 3;
    if (line.size() < timeStart + 20 || line.compare(timeStart + 17, 3, L" | ") != 0)
        return false;
    parsed.time = line.substr(timeStart, 17);
    parsed.text = line.substr(timeStart + 20);
    const std::wstring& t = parsed.time;
    if ((t[0] != L' ' && t[0] != L'-') || t[3] != L':' || t[6] != L':' || t[9] != L'.')
        return false;
    for (size_t i : {1, 2, 4, 5, 7, 8, 10, 11, 12, 13, 14, 15, 16})
        if (t[i] < L'0' || t[i] > L'9')
            return false;
    return true;
}

// The texts (indentation and message) of a log file's lines, each line checked for the line layout and
// for the writing thread when given.
std::vector<std::wstring> ReadLogTexts(const std::wstring& path, DWORD threadId = 0)
{
    std::vector<std::wstring> texts;
    for (const std::wstring& line : ReadLogLines(path)) {
        SLine parsed;
        EXPECT_TRUE(ParseLine(line, parsed)) << "malformed line";
        if (threadId != 0) {
            EXPECT_EQ(parsed.thread, Hex4(threadId));
        }
        texts.push_back(parsed.text);
    }
    return texts;
}

std::wstring WorkPath(const std::wstring& name)
{
    wchar_t directory[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    return std::wstring(directory) + L"\\" + name;
}

TEST(TraceLogLine, TimeColumn)
{
    wchar_t column[21];
    const LONGLONG second = 10000000;
    const LONGLONG hour = 3600 * second;

    EXPECT_EQ(CTraceLog::FormatTimeColumn(column, 21, 0), 20);
    EXPECT_STREQ(column, L" 00:00:00.0000000 | ");

    CTraceLog::FormatTimeColumn(column, 21, 13 * hour + 5 * 60 * second + 42 * second + 1234567);
    EXPECT_STREQ(column, L" 13:05:42.1234567 | ");

    // A counter that ran backwards: the sign, then the magnitude.
    CTraceLog::FormatTimeColumn(column, 21, -(1 * hour + 2 * 60 * second + 3 * second + 5000000));
    EXPECT_STREQ(column, L"-01:02:03.5000000 | ");

    // Past midnight the hours wrap.
    CTraceLog::FormatTimeColumn(column, 21, 24 * hour + 59 * second + 9999999);
    EXPECT_STREQ(column, L" 00:00:59.9999999 | ");
    CTraceLog::FormatTimeColumn(column, 21, 49 * hour);
    EXPECT_STREQ(column, L" 01:00:00.0000000 | ");

    // Extreme values still give a well-formed column.
    EXPECT_EQ(CTraceLog::FormatTimeColumn(column, 21, LLONG_MIN), 20);
    EXPECT_EQ(column[0], L'-');
    EXPECT_EQ(CTraceLog::FormatTimeColumn(column, 21, LLONG_MAX), 20);

    // Too small a buffer fails instead of cutting the column.
    EXPECT_EQ(CTraceLog::FormatTimeColumn(column, 20, 0), -1);
}

TEST(TraceLogLine, ThreadColumnHasAtLeastFourDigitsAndAllThatAreNeeded)
{
    wchar_t column[16];
    EXPECT_EQ(CTraceLog::FormatThreadColumn(column, 16, 0x1A), 9);
    EXPECT_STREQ(column, L"| 001A | ");
    EXPECT_EQ(CTraceLog::FormatThreadColumn(column, 16, 0xFFFF), 9);
    EXPECT_STREQ(column, L"| FFFF | ");
    EXPECT_EQ(CTraceLog::FormatThreadColumn(column, 16, 0x12345), 10);
    EXPECT_STREQ(column, L"| 12345 | ");
    EXPECT_EQ(CTraceLog::FormatThreadColumn(column, 16, 0xFFFFFFFF), 13);
    EXPECT_STREQ(column, L"| FFFFFFFF | ");
}

TEST(TraceLogLine, AssemblesColumnsIndentationMessageAndLineEnd)
{
    wchar_t line[CTraceLog::LineCapacity];
    const LONGLONG time = (13 * 3600LL + 5 * 60 + 42) * 10000000 + 1234567;

    EXPECT_EQ(CTraceLog::AssembleLine(line, CTraceLog::LineCapacity, 0x2C, time, 0, L"init COM\x2026", true), 40);
    EXPECT_STREQ(line, L"| 002C |  13:05:42.1234567 | init COM\x2026\r\n");

    CTraceLog::AssembleLine(line, CTraceLog::LineCapacity, 0x2C, time, 2, L"load file\x2026", false);
    EXPECT_STREQ(line, L"| 002C |  13:05:42.1234567 |     load file\x2026\n");

    // A thread id of more than four hex digits keeps its line.
    CTraceLog::AssembleLine(line, CTraceLog::LineCapacity, 0x12345, time, 1, L"x", true);
    EXPECT_STREQ(line, L"| 12345 |  13:05:42.1234567 |   x\r\n");

    // The longest line: eight-digit id, deepest indentation, longest message.
    const std::wstring longest(CTraceLog::MessageCapacity - 1, L'm');
    const int length = CTraceLog::AssembleLine(line, CTraceLog::LineCapacity, 0xFFFFFFFF, time,
                                               CTraceLog::MaxDepth, longest.c_str(), true);
    EXPECT_EQ(length, 13 + 20 + 2 * 255 + 1055 + 2);
    EXPECT_EQ(std::wstring(line).substr(33 + 510, 1055), longest);

    // A piece that does not fit drops the whole line.
    EXPECT_EQ(CTraceLog::AssembleLine(line, 40, 0x2C, time, 0, L"init COM\x2026", true), -1);
    EXPECT_EQ(CTraceLog::AssembleLine(line, 41, 0x2C, time, 0, L"init COM\x2026", true), 40);
}

TEST(TraceLogLine, CounterToTimeDoesNotOverflowWithFastCounters)
{
    EXPECT_EQ(CTraceLog::CounterToTime(10000000, 10000000), 10000000);
    EXPECT_EQ(CTraceLog::CounterToTime(3000, 3000000000LL), 10); // 1 µs at 3 GHz
    // 1e12 ticks of a 3 GHz counter: 333.33 s. Multiplying the difference by 10^7 first would overflow.
    EXPECT_EQ(CTraceLog::CounterToTime(1000000000000LL, 3000000000LL), 3333333333LL);
    // A day and more of a 10 MHz counter.
    EXPECT_EQ(CTraceLog::CounterToTime(30LL * 3600 * 10000000, 10000000), 30LL * 3600 * 10000000);
    EXPECT_EQ(CTraceLog::CounterToTime(-15, 10), -15000000);
    EXPECT_EQ(CTraceLog::CounterToTime(-1, 3), -3333333);
}

TEST(TraceLogFile, WritesUtf16LinesWithoutByteOrderMarkFromStartToStop)
{
    const std::wstring path = WorkPath(L"format.log");
    {
        CTraceLog log(L"format%ls", L".log");
        ASSERT_TRUE(log.HasFile());
        log.Print(L"init COM\x2026");
        log.Print(L"load %s\x2026 %d", L"file", 42); // wide "%s" is a wide string
        log.Print(L"narrow %hs, caf\x00E9", "text");
    }
    const std::string bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("|\0 \0", 4)); // no byte-order mark, little-endian
    EXPECT_NE(bytes.find(std::string("\r\0\n\0", 4)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("\x26\x20", 2)), std::string::npos); // U+2026 little-endian

    const std::vector<std::wstring> texts = ReadLogTexts(path, ::GetCurrentThreadId());
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"Log started.", L"init COM\x2026", L"load file\x2026 42",
                                                 L"narrow text, caf\x00E9", L"Log stopped."}));
    ::DeleteFileW(path.c_str());
}

TEST(TraceLogFile, TimesAreLocalTimeOfDayAndDoNotGoBackwards)
{
    const std::wstring path = WorkPath(L"time.log");
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    {
        CTraceLog log(L"time.log");
        for (int i = 0; i < 20; ++i)
            log.Print(L"line %d", i);
    }
    std::vector<std::wstring> times;
    for (const std::wstring& line : ReadLogLines(path)) {
        SLine parsed;
        ASSERT_TRUE(ParseLine(line, parsed));
        EXPECT_EQ(parsed.time[0], L' ');
        times.push_back(parsed.time);
    }
    ASSERT_EQ(times.size(), 22u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_LE(times[i - 1], times[i]);
    // Hours of the first line match the clock (unless the hour changed meanwhile).
    const int hour = std::stoi(times[0].substr(1, 2));
    EXPECT_TRUE(hour == before.wHour || hour == (before.wHour + 1) % 24) << hour;
    ::DeleteFileW(path.c_str());
}

TEST(TraceLogFile, TruncatesFileOfEarlierRun)
{
    const std::wstring path = WorkPath(L"truncate.log");
    {
        FILE* file = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(file, nullptr);
        const std::string old(100000, 'o');
        std::fwrite(old.data(), 1, old.size(), file);
        std::fclose(file);
    }
    {
        CTraceLog log(L"truncate.log");
        log.Print(L"fresh");
    }
    EXPECT_LT(ReadBytes(path).size(), 1000u);
    EXPECT_EQ(ReadLogTexts(path), (std::vector<std::wstring>{L"Log started.", L"fresh", L"Log stopped."}));
    ::DeleteFileW(path.c_str());
}

TEST(TraceLogFile, MessageOf1055CharactersIsWrittenAndOf1056Dropped)
{
    const std::wstring path = WorkPath(L"limit.log");
    const std::wstring fits(1055, L'a');
    const std::wstring tooLong(1056, L'b');
    {
        CTraceLog log(L"limit.log");
        log.Print(L"%ls", fits.c_str());
        log.Print(L"%ls", tooLong.c_str());
        log.Print(L"%ls%ls", fits.c_str(), L"c"); // too long only once formatted
        log.Print(nullptr);
        log.Print(L"after");
    }
    EXPECT_EQ(ReadLogTexts(path), (std::vector<std::wstring>{L"Log started.", fits, L"after", L"Log stopped."}));
    ::DeleteFileW(path.c_str());
}

struct SPrintWork {
    CTraceLog* log;
    int index;
    int lines;
};

// Writes numbered lines with a long filler that tells the thread.
DWORD WINAPI PrintLines(void* parameter)
{
    const SPrintWork* work = static_cast<const SPrintWork*>(parameter);
    const std::wstring filler(200, static_cast<wchar_t>(L'A' + work->index));
    for (int n = 0; n < work->lines; ++n)
        work->log->Print(L"%d %d %ls", work->index, n, filler.c_str());
    return 0;
}

DWORD WINAPI PrintOtherThread(void* log)
{
    static_cast<CTraceLog*>(log)->Print(L"other thread");
    return 0;
}

TEST(TraceLogFile, ConcurrentLinesNeverMix)
{
    const std::wstring path = WorkPath(L"concurrent.log");
    constexpr int threads = 4;
    constexpr int linesPerThread = 300;
    {
        CTraceLog log(L"concurrent.log");
        SPrintWork work[threads];
        HANDLE handles[threads];
        for (int i = 0; i < threads; ++i) {
            work[i] = {&log, i, linesPerThread};
            handles[i] = ::CreateThread(nullptr, 0, &PrintLines, &work[i], 0, nullptr);
            ASSERT_NE(handles[i], nullptr);
        }
        EXPECT_EQ(::WaitForMultipleObjects(threads, handles, TRUE, 60000), WAIT_OBJECT_0);
        for (HANDLE handle : handles)
            ::CloseHandle(handle);
    }
    const std::vector<std::wstring> texts = ReadLogTexts(path);
    ASSERT_EQ(texts.size(), 2u + threads * linesPerThread);
    int next[threads] = {};
    for (size_t i = 1; i + 1 < texts.size(); ++i) {
        int index = -1;
        int n = -1;
        ASSERT_EQ(swscanf(texts[i].c_str(), L"%d %d", &index, &n), 2) << i;
        ASSERT_TRUE(index >= 0 && index < threads);
        EXPECT_EQ(n, next[index]++);
        EXPECT_EQ(texts[i].substr(texts[i].size() - 200),
                  std::wstring(200, static_cast<wchar_t>(L'A' + index)));
    }
    ::DeleteFileW(path.c_str());
}

// Points the temporary directory of this process somewhere else for one test.
class CTempDirectoryOverride {
public:
    explicit CTempDirectoryOverride(const std::wstring& directory)
    {
        Save(L"TMP", m_tmp, m_hadTmp);
        Save(L"TEMP", m_temp, m_hadTemp);
        ::SetEnvironmentVariableW(L"TMP", directory.c_str());
        ::SetEnvironmentVariableW(L"TEMP", directory.c_str());
    }
    ~CTempDirectoryOverride()
    {
        ::SetEnvironmentVariableW(L"TMP", m_hadTmp ? m_tmp.c_str() : nullptr);
        ::SetEnvironmentVariableW(L"TEMP", m_hadTemp ? m_temp.c_str() : nullptr);
    }

private:
    static void Save(const wchar_t* name, std::wstring& value, bool& had)
    {
        wchar_t buffer[MAX_PATH * 2];
        const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
        had = length > 0 && length < MAX_PATH * 2;
        if (had)
            value = buffer;
    }
    std::wstring m_tmp, m_temp;
    bool m_hadTmp = false, m_hadTemp = false;
};

TEST(TraceLogFile, FallsBackToTemporaryDirectory)
{
    // A directory of the log's name makes the current directory unusable for it.
    const std::wstring blocked = WorkPath(L"fallback.log");
    const std::wstring temp = WorkPath(L"temp");
    ASSERT_TRUE(::CreateDirectoryW(blocked.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(temp.c_str(), nullptr));
    {
        CTempDirectoryOverride override(temp);
        CTraceLog log(L"fallback.log");
        EXPECT_TRUE(log.HasFile());
        log.Print(L"in temp");
    }
    const std::wstring path = temp + L"\\fallback.log";
    EXPECT_EQ(ReadLogTexts(path), (std::vector<std::wstring>{L"Log started.", L"in temp", L"Log stopped."}));
    ::DeleteFileW(path.c_str());
    ::RemoveDirectoryW(temp.c_str());
    ::RemoveDirectoryW(blocked.c_str());
}

TEST(TraceLogFile, WithoutAnyUsableDirectoryLinesAreDiscarded)
{
    const std::wstring blocked = WorkPath(L"nowhere.log");
    ASSERT_TRUE(::CreateDirectoryW(blocked.c_str(), nullptr));
    {
        CTempDirectoryOverride override(WorkPath(L"missing\\deeper"));
        CTraceLog log(L"nowhere.log");
        EXPECT_FALSE(log.HasFile());
        log.Print(L"lost %d", 1);
        CTraceScope scope(log, "Discarded");
        HRESULT hr = S_OK;
        scope.Begin(&hr, L"%d", 2);
        EXPECT_TRUE(scope.Begun());
    }
    ::RemoveDirectoryW(blocked.c_str());

    // A name that does not fit into 259 characters opens no file either.
    const std::wstring longName(300, L'n');
    CTraceLog log(L"%ls", longName.c_str());
    EXPECT_FALSE(log.HasFile());
    log.Print(L"lost");
}

class TraceScope : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = std::string("scope_") + info->name() + ".log";
        m_path = WorkPath(std::wstring(name.begin(), name.end()));
        m_log = new CTraceLog(L"%ls", m_path.c_str());
        ASSERT_TRUE(m_log->HasFile());
    }
    void TearDown() override
    {
        delete m_log;
        ::DeleteFileW(m_path.c_str());
    }
    // The lines between "Log started." and "Log stopped." (closes the log).
    std::vector<std::wstring> Texts(DWORD threadId = ::GetCurrentThreadId())
    {
        delete m_log;
        m_log = nullptr;
        std::vector<std::wstring> texts = ReadLogTexts(m_path, threadId);
        EXPECT_GE(texts.size(), 2u);
        if (texts.size() >= 2) {
            EXPECT_EQ(texts.front(), L"Log started.");
            EXPECT_EQ(texts.back(), L"Log stopped.");
            texts.erase(texts.begin());
            texts.pop_back();
        }
        return texts;
    }

    std::wstring m_path;
    CTraceLog* m_log = nullptr;
};

TEST_F(TraceScope, BeginAndDoneLinesPerResultKind)
{
    {
        HRESULT hr = S_OK;
        CTraceScope scope(*m_log, "CFilterGraph_Playback::Init");
        scope.Begin(&hr, L"%s, %d", L"C:\\a.mp3", 3);
        m_log->Print(L"load file\x2026");
        hr = E_FAIL;
    }
    {
        HRESULT hr = S_OK;
        CTraceScope scope(*m_log, "Java_com_tarvik_kelvane_Quillmar_stop");
        scope.Begin(&hr);
    }
    {
        int value = 0;
        CTraceScope scope(*m_log, "Count");
        scope.Begin(&value, nullptr);
        value = -17;
        scope.End();
    }
    {
        CTraceScope scope(*m_log, "Release");
        scope.BeginNoResult(L"%d", 1);
    }
    EXPECT_EQ(Texts(), (std::vector<std::wstring>{
                           L"CFilterGraph_Playback::Init( C:\\a.mp3, 3 ) begin\x2026",
                           L"  load file\x2026",
                           L"CFilterGraph_Playback::Init( C:\\a.mp3, 3 ) done, return 0x80004005.",
                           L"Java_com_tarvik_kelvane_Quillmar_stop() begin\x2026",
                           L"Java_com_tarvik_kelvane_Quillmar_stop() done, return 0x00000000.",
                           L"Count() begin\x2026",
                           L"Count() done, return -17.",
                           L"Release( 1 ) begin\x2026",
                           L"Release( 1 ) done.",
                       }));
}

TEST_F(TraceScope, NestedScopesIndentTheirThreadOnly)
{
    HRESULT outerResult = S_OK;
    CTraceScope outer(*m_log, "Outer");
    outer.Begin(&outerResult);
    {
        HRESULT innerResult = S_FALSE;
        CTraceScope inner(*m_log, "Inner");
        inner.Begin(&innerResult);
        m_log->Print(L"deep");

        // Another thread writes while this one is two levels deep: its line is not indented.
        DWORD otherId = 0;
        HANDLE other = ::CreateThread(nullptr, 0, &PrintOtherThread, m_log, 0, &otherId);
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(::WaitForSingleObject(other, 10000), WAIT_OBJECT_0);
        ::CloseHandle(other);
    }
    m_log->Print(L"shallow");
    outer.End();
    outer.End(); // a second End writes nothing
    m_log->Print(L"flat");

    EXPECT_EQ(Texts(0), (std::vector<std::wstring>{
                            L"Outer() begin\x2026",
                            L"  Inner() begin\x2026",
                            L"    deep",
                            L"other thread",
                            L"  Inner() done, return 0x00000001.",
                            L"  shallow",
                            L"Outer() done, return 0x00000000.",
                            L"flat",
                        }));
}

TEST_F(TraceScope, SecondBeginWritesNothingAndKeepsFirstHeaderAndResult)
{
    HRESULT first = E_ABORT;
    int second = 5;
    {
        CTraceScope scope(*m_log, "Twice");
        scope.Begin(&first, L"%d", 1);
        scope.Begin(&second, L"%d", 2);
        scope.BeginNoResult();
        EXPECT_STREQ(scope.Header(), L"Twice( 1 )");
    }
    m_log->Print(L"after");
    EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"Twice( 1 ) begin\x2026", L"Twice( 1 ) done, return 0x80004004.",
                                                  L"after"}));
}

TEST_F(TraceScope, ArgumentsOver511CharactersWriteNeitherLine)
{
    const std::wstring fits(511, L'a');
    const std::wstring tooLong(512, L'b');
    {
        HRESULT hr = S_OK;
        CTraceScope scope(*m_log, "Fits");
        scope.Begin(&hr, L"%ls", fits.c_str());
        EXPECT_TRUE(scope.Begun());
    }
    {
        HRESULT hr = S_OK;
        CTraceScope scope(*m_log, "TooLong");
        scope.Begin(&hr, L"%ls", tooLong.c_str());
        EXPECT_FALSE(scope.Begun());
        m_log->Print(L"not indented");
    }
    {
        CTraceScope scope(*m_log, "Unbegun");
    }
    EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"Fits( " + fits + L" ) begin\x2026",
                                                  L"Fits( " + fits + L" ) done, return 0x00000000.",
                                                  L"not indented"}));
}

TEST_F(TraceScope, NameIsConvertedFromNarrowAndBadNamesAreIgnored)
{
    {
        CTraceScope scope(*m_log, "First");
        scope.SetName(nullptr); // ignored
        scope.SetName(std::string(600, 'x').c_str()); // does not fit: the name stays
        scope.BeginNoResult();
    }
    {
        CTraceScope scope(*m_log);
        scope.SetName("Late");
        scope.BeginNoResult();
    }
    EXPECT_EQ(Texts(), (std::vector<std::wstring>{L"First() begin\x2026", L"First() done.", L"Late() begin\x2026",
                                                  L"Late() done."}));
}

TEST_F(TraceScope, DepthOfThreadsWithLargeIdsIsNotKept)
{
    // Thread ids from 65,535 up have no nesting depth; changing it is harmless.
    m_log->IncreaseDepth(0x12345);
    EXPECT_EQ(m_log->Depth(0x12345), 0u);
    m_log->DecreaseDepth(0x12345);

    const DWORD id = 65534;
    for (int i = 0; i < 300; ++i)
        m_log->IncreaseDepth(id);
    EXPECT_EQ(m_log->Depth(id), 255u);
    for (int i = 0; i < 300; ++i)
        m_log->DecreaseDepth(id);
    EXPECT_EQ(m_log->Depth(id), 0u);
    Texts();
}

} // namespace

namespace {

// One per-buffer operation: the same code site every time.
void TraceReceive(CTraceLog& log, int buffer, HRESULT result)
{
    CTraceScope scope(log, "Filter::Receive");
    HRESULT hr = S_OK;
    scope.Begin(&hr, L"%d", buffer);
    log.Print(L"encode buffer %d\x2026", buffer);
    hr = result;
}

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    for (const std::wstring& line : lines) {
        if (line.find(text) != std::wstring::npos)
            return true;
    }
    return false;
}

} // namespace

// Hours of recording write a line set per buffer: past its bound a log leaves those out (one line says
// so, the close says how many), while a call, a state change and a failed operation are still written.
TEST(TraceLogFile, PastItsBoundRepeatedLinesAreLeftOutButCallsAndFailuresAreNot)
{
    const std::wstring path = L"bounded.log";
    LONG leftOut = 0;
    {
        CTraceLog log(L"bounded.log");
        log.SetBounds(16 * 1024, CTraceLog::CapBytes, CTraceLog::ReserveBytes);
        for (int i = 0; i < 3000; ++i) {
            TraceReceive(log, i, i == 2500 ? E_FAIL : S_OK);
            if (i == 2000) {
                CTraceScope call(log, "Java_stop");
                HRESULT hr = S_OK;
                call.Begin(&hr);
                log.Print(L"stop FilterGraph\x2026");
            }
        }
        leftOut = log.LeftOutLines();
    }
    const std::vector<std::wstring> lines = ReadLogLines(path);
    EXPECT_LT(ReadBytes(path).size(), 24u * 1024) << "3000 buffers would take 1.5 MB";
    EXPECT_GT(leftOut, 5000) << "a begin and a message line for each left-out buffer";
    int notices = 0;
    for (const std::wstring& line : lines)
        notices += line.find(L"log size 16384 bytes reached: operations repeated with every buffer are left out") !=
                   std::wstring::npos;
    EXPECT_EQ(1, notices);
    EXPECT_FALSE(Contains(lines, L"Filter::Receive( 2999 )"));
    EXPECT_FALSE(Contains(lines, L"encode buffer 2999"));
    EXPECT_TRUE(Contains(lines, L"Java_stop() begin\x2026"));
    EXPECT_TRUE(Contains(lines, L"Java_stop() done, return 0x00000000."));
    EXPECT_TRUE(Contains(lines, L"stop FilterGraph\x2026"));
    EXPECT_TRUE(Contains(lines, L"Filter::Receive( 2500 ) begin\x2026"));
    EXPECT_TRUE(Contains(lines, L"Filter::Receive( 2500 ) done, return 0x80004005."));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(std::wstring::npos, lines[lines.size() - 2].find(std::to_wstring(leftOut) +
                                                                 L" lines were left out to bound the log's size."));
    EXPECT_NE(std::wstring::npos, lines.back().find(L"Log stopped."));
}

namespace {

// The time of the next line: a clock that a test moves.
LONGLONG TestClock(void* context)
{
    return *static_cast<const LONGLONG*>(context);
}

// One call of the library as it is traced: the frame's begin and done lines, a nested line or two.
void TraceCall(CTraceLog& log, const char* name, HRESULT result, bool stateChange, const wchar_t* nested)
{
    CTraceScope scope(log, name);
    HRESULT hr = S_OK;
    if (stateChange)
        scope.MarkStateChange();
    scope.Begin(&hr);
    if (nested != nullptr)
        log.Print(nested);
    hr = result;
}

} // namespace

// Whatever the mix and rate of the calls, each file stays within its cap plus the reserve, and past the
// cap a state change, a failure and the count of what was left out are still written. Simulated hours on
// a clock of the test's own: a UI polling the position 4 times a second, the tool's 5 Hz status line
// (position, dropped audio) with 25 levels a second, and a flood of failures that fills the reserve.
TEST(TraceLogFile, StaysWithinItsCapWhateverTheCallsAndKeepsStateChangesFailuresAndTheCount)
{
    struct SMix {
        const wchar_t* file;
        int perSecond;          // polls a second
        bool statusLine;        // with the dropped audio and the levels of a status line
        bool failEveryPoll;     // every poll fails (kept lines fill the reserve)
    };
    const SMix mixes[] = {
        {L"poll_4hz.log", 4, false, false},
        {L"status_5hz.log", 5, true, false},
        {L"failures.log", 5, false, true},
    };
    const LONGLONG second = 10000000;
    for (const SMix& mix : mixes) {
        SCOPED_TRACE(testing::Message() << std::string(mix.file, mix.file + wcslen(mix.file)));
        LONGLONG now = 0;
        LONG leftOut = 0;
        {
            CTraceLog log(mix.file);
            log.SetClock(&TestClock, &now);
            TraceCall(log, "Java_record", S_OK, true, L"build graph\x2026");
            const int hours = 3;
            for (int tick = 0; tick < hours * 3600 * mix.perSecond; ++tick) {
                now = tick * second / mix.perSecond;
                TraceCall(log, "Java_getCurrentPosition", mix.failEveryPoll ? E_FAIL : S_OK, false, nullptr);
                if (mix.statusLine) {
                    TraceCall(log, "Java_getDroppedAudio", S_OK, false, L"dropped audio = 0 gaps, 0.0 ms.");
                    for (int level = 0; level < 5; ++level)
                        TraceCall(log, "VolumeMeter_Callback", S_OK, false, L"call Java\x2026");
                }
                if (tick == 2 * 3600 * mix.perSecond) {
                    TraceCall(log, "Java_pause", S_OK, true, L"pause FilterGraph\x2026");
                    TraceCall(log, "Capture::Write", HRESULT_FROM_WIN32(ERROR_DISK_FULL), false, nullptr);
                }
            }
            leftOut = log.LeftOutLines();
        }
        const std::string bytes = ReadBytes(mix.file);
        EXPECT_LE(bytes.size(), static_cast<size_t>(CTraceLog::CapBytes + CTraceLog::ReserveBytes));
        EXPECT_GE(bytes.size(), static_cast<size_t>(CTraceLog::CapBytes - 4096)) << "three hours fill the cap";
        const std::vector<std::wstring> lines = ReadLogLines(mix.file);
        EXPECT_TRUE(Contains(lines, L"Java_record() done, return 0x00000000."));
        if (!mix.failEveryPoll) {
            EXPECT_TRUE(Contains(lines, L"log size 6291456 bytes reached: only state changes and errors are written "
                                        L"from here on, and the count of lines left out at the end."));
            EXPECT_TRUE(Contains(lines, L"Java_pause() done, return 0x00000000."));
            EXPECT_TRUE(Contains(lines, L"pause FilterGraph\x2026"));
            EXPECT_TRUE(Contains(lines, L"Capture::Write() begin\x2026"));
            EXPECT_TRUE(Contains(lines, L"Capture::Write() done, return 0x80070070."));
        } else {
            EXPECT_TRUE(Contains(lines, L"log size 6549504 bytes reached: nothing more is written but the count of "
                                        L"lines left out."));
        }
        EXPECT_GT(leftOut, 10000);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_NE(std::wstring::npos,
                  lines[lines.size() - 2].find(std::to_wstring(leftOut) + L" lines were left out to bound the log's size."));
        EXPECT_NE(std::wstring::npos, lines.back().find(L"Log stopped."));
    }
}
