// quillmar.exe: records and plays audio with Tessaro.dll, calling it through its Java natives exactly
// as a Java application does, with an in-process JVM host in place of a Java runtime.
#include "quillmar/command_line.h"
#include "quillmar/commands.h"
#include "quillmar/console.h"

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
        CConsole::Err(L"quillmar: " + commandLine.Error() + L"\n" + CCommandLine::Usage());
        return 2;
    }
    switch (commandLine.GetVerb()) {
    case Verb::Help:
        CConsole::Out(CCommandLine::Usage());
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
