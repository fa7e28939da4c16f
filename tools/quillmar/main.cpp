// quillmar.exe: records and plays audio with Tessaro.dll, calling it through its Java natives exactly
// as a Java application does, with an in-process JVM host in place of a Java runtime.
#include "quillmar/command_line.h"
#include "quillmar/commands.h"
#include "quillmar/console.h"
#include "quillmar/library_session.h"
#include "quillmar/session_control.h"

#include <windows.h>

#include <shellapi.h>

#include <vector>

int main()
{
    int count = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; argv != nullptr && i < count; ++i)
        args.emplace_back(argv[i]);
    if (argv != nullptr)
        ::LocalFree(argv);

    CCommandLine commandLine;
    if (!commandLine.Parse(args)) {
        CConsole::Err(L"quillmar: " + commandLine.Error() + L"\n");
        return 2;
    }
    if (commandLine.GetVerb() == Verb::Help) {
        CConsole::Out(commandLine.HelpText());
        return 0;
    }
    // File names stay relative to where the user started; --log-dir then moves the library's logs.
    if ((commandLine.GetVerb() == Verb::Record && !commandLine.ToStandardOutput()) || (commandLine.GetVerb() == Verb::Play &&
                                                  commandLine.Target().find(L"://") == std::wstring::npos))
        commandLine.SetTarget(FullPath(commandLine.Target()));
    if (!commandLine.LogDirectory().empty()) {
        const std::wstring directory = FullPath(commandLine.LogDirectory());
        if (!::CreateDirectoryW(directory.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return CLibrarySession::ReportFailure(L"creating the log directory \"" + directory + L"\"",
                                                  HRESULT_FROM_WIN32(::GetLastError()));
        if (!::SetCurrentDirectoryW(directory.c_str()))
            return CLibrarySession::ReportFailure(L"changing to the log directory \"" + directory + L"\"",
                                                  HRESULT_FROM_WIN32(::GetLastError()));
    }
    switch (commandLine.GetVerb()) {
    case Verb::Help:
        return 0;
    case Verb::Record:
        return RunRecord(commandLine);
    case Verb::Play:
        return RunPlay(commandLine);
    case Verb::Version:
        return RunVersion();
    case Verb::Devices:
        return RunDevices();
    }
    return 2;
}
