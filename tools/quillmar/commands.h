// The four commands of quillmar.exe; each returns the process exit status (0 done, 1 failure, 2 usage).
#pragma once

#include "quillmar/command_line.h"

int RunRecord(const CCommandLine& commandLine);
int RunPlay(const CCommandLine& commandLine);
int RunVersion();
int RunDevices();
