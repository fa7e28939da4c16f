#include "quillmar/library_session.h"

#include "quillmar/console.h"
#include "quillmar/result_codes.h"

CLibrarySession::CLibrarySession() : m_library(*this)
{
}

CLibrarySession::~CLibrarySession()
{
    if (m_initialised)
        m_library.FreeLibrary();
}

std::wstring CLibrarySession::BesideProgram(const wchar_t* name)
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD length;
    while ((length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()))) >= path.size())
        path.resize(path.size() * 2);
    path.resize(length);
    const std::size_t slash = path.find_last_of(L"\\/");
    path.resize(slash == std::wstring::npos ? 0 : slash + 1);
    return path + name;
}

std::wstring CLibrarySession::LogDirectory()
{
    wchar_t directory[MAX_PATH + 1];
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH + 1, directory);
    if (length > 0 && length <= MAX_PATH) {
        // Can a file be created here? The library falls back to the temporary directory when not.
        const std::wstring probe = std::wstring(directory) + L"\\quillmar-log-probe.tmp";
        HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() == ERROR_FILE_EXISTS) {
            if (file != INVALID_HANDLE_VALUE)
                ::CloseHandle(file);
            return directory;
        }
    }
    wchar_t temporary[MAX_PATH + 1];
    const DWORD tempLength = ::GetTempPathW(MAX_PATH + 1, temporary);
    std::wstring result(temporary, tempLength > 0 && tempLength <= MAX_PATH ? tempLength : 0);
    if (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/'))
        result.pop_back();
    return result;
}

int CLibrarySession::Open(bool initialise)
{
    const std::wstring path = BesideProgram(L"Tessaro.dll");
    HRESULT hr = m_library.Load(path);
    if (FAILED(hr)) {
        std::wstring what = L"loading " + path;
        if (!m_library.MissingExport().empty())
            what += L" (no export " + std::wstring(m_library.MissingExport().begin(), m_library.MissingExport().end()) + L")";
        return ReportFailure(what, hr);
    }
    if (!initialise)
        return 0;
    hr = m_library.InitLibrary();
    if (FAILED(hr))
        return ReportFailure(L"initLibrary", hr);
    m_initialised = true;
    return 0;
}

int CLibrarySession::ReportFailure(const std::wstring& what, HRESULT code)
{
    CConsole::Err(L"quillmar: " + what + L" failed: " + CResultCodes::Describe(code) + L"\n");
    return 1;
}

StreamEnd CLibrarySession::EndOf(int stoppedValue)
{
    StreamEnd end;
    end.stoppedValue = stoppedValue;
    int stream = 0;
    end.causeKnown = m_library.GetEndCause(end.eventCode, end.result, stream) == S_OK;
    return end;
}

bool CLibrarySession::RecordedEnd(int stream, StreamEnd& end)
{
    int ended = 0;
    end = StreamEnd();
    if (stream == 0 || m_library.GetEndCause(end.eventCode, end.result, ended) != S_OK || ended != stream)
        return false;
    end.causeKnown = true;
    end.stoppedValue = end.eventCode == StreamEnd::kComplete || end.eventCode == StreamEnd::kStreamControlStopped ? 0 : 1;
    return true;
}

int CLibrarySession::Report(const EndReport& report)
{
    if (!report.error.empty())
        CConsole::Err(report.error);
    return report.exitStatus;
}

void CLibrarySession::Stopped(jint reason)
{
    m_events.PostStopped(static_cast<int>(reason));
}

void CLibrarySession::InputLevel(jdouble level)
{
    m_events.PostLevel(level);
}

void CLibrarySession::StreamFormat(const std::string& waveFormat)
{
    if (CStreamOutput* output = m_streamOutput.load())
        output->Format(waveFormat);
}

void CLibrarySession::StreamData(const std::string& bytes, bool end)
{
    if (CStreamOutput* output = m_streamOutput.load()) {
        if (end)
            output->End();
        else
            output->Data(bytes);
    }
}
