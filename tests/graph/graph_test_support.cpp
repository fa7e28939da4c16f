#include "graph_test_support.h"

#include "platform/trace_reader/trace_reader.h"

namespace GraphTest {

std::vector<std::wstring> MainLogSince(size_t from)
{
    const std::vector<std::wstring> all = TestTrace::ReadLog(L"Tessaro.log").Messages();
    return from < all.size() ? std::vector<std::wstring>(all.begin() + from, all.end()) : std::vector<std::wstring>();
}

size_t MainLogLineCount()
{
    return TestTrace::ReadLog(L"Tessaro.log").lines.size();
}

} // namespace GraphTest
