#include "platform/trace_reader/trace_reader.h"

#include <cwchar>
#include <cwctype>
#include <fstream>
#include <iterator>

namespace TestTrace {
namespace {

bool ParseDigits(const std::wstring& text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const wchar_t c = text[at + i];
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + (c - L'0');
    }
    return true;
}

// "| 0012 |  13:05:42.1234567 | " + indentation + message
bool ParseLine(const std::wstring& text, Line& line)
{
    if (text.compare(0, 2, L"| ") != 0)
        return false;
    size_t at = 2;
    size_t digits = 0;
    DWORD id = 0;
    while (at < text.size() && std::iswxdigit(text[at]) && !std::iswlower(text[at])) {
        id = id * 16 + static_cast<DWORD>(text[at] <= L'9' ? text[at] - L'0' : text[at] - L'A' + 10);
        ++at;
        ++digits;
    }
    if (digits < 4 || digits > 8 || text.compare(at, 3, L" | ") != 0)
        return false;
    at += 3;
    line.threadId = id;
    if (at >= text.size() || (text[at] != L' ' && text[at] != L'-'))
        return false;
    line.negativeTime = text[at] == L'-';
    ++at;
    if (!ParseDigits(text, at, 2, line.hours) || text[at + 2] != L':' || !ParseDigits(text, at + 3, 2, line.minutes) ||
        text[at + 5] != L':' || !ParseDigits(text, at + 6, 2, line.seconds) || text[at + 8] != L'.' ||
        !ParseDigits(text, at + 9, 7, line.fraction))
        return false;
    at += 16;
    if (text.compare(at, 3, L" | ") != 0)
        return false;
    at += 3;
    size_t message = at;
    while (message < text.size() && text[message] == L' ')
        ++message;
    line.indent = static_cast<int>(message - at);
    line.message = text.substr(message);
    return true;
}

} // namespace

std::vector<std::wstring> Log::Messages() const
{
    std::vector<std::wstring> messages;
    for (const Line& line : lines)
        messages.push_back(line.message);
    return messages;
}

std::vector<std::wstring> Log::MessagesOf(DWORD threadId) const
{
    std::vector<std::wstring> messages;
    for (const Line& line : lines)
        if (line.threadId == threadId)
            messages.push_back(line.message);
    return messages;
}

Log ReadLog(const std::wstring& path)
{
    Log log;
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file)
        return log;
    log.opened = true;
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() % 2 != 0)
        log.problems.push_back("odd number of bytes");
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    if (!text.empty() && text[0] == 0xFEFF)
        log.problems.push_back("byte-order mark");
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            log.problems.push_back("last line without CRLF: " + Narrow(text.substr(start)));
            break;
        }
        const std::wstring raw = text.substr(start, end - start);
        Line line;
        if (raw.find(L'\n') != std::wstring::npos || raw.find(L'\r') != std::wstring::npos || !ParseLine(raw, line))
            log.problems.push_back("malformed line: " + Narrow(raw));
        else
            log.lines.push_back(line);
        start = end + 2;
    }
    return log;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::wstring Hex(const void* pointer)
{
    wchar_t text[32];
#if defined(_WIN64)
    std::swprintf(text, 32, L"0x%016I64X", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(pointer)));
#else
    std::swprintf(text, 32, L"0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(pointer)));
#endif
    return text;
}

} // namespace TestTrace
