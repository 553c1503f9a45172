// Starting another program and leaving it to run on its own (formwell starts formdesk this way).
// Paths in the ANSI code page. Any thread.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Makes folder the process's current folder; false when it cannot.
bool setCurrentFolder(const std::string& folder);

// Windows: WinExec(commandLine, SW_SHOWNORMAL); true when the program started. Linux: false
// (Linux starts programs with an argument vector, startProgram).
bool startCommandLine(const std::string& commandLine);

// Linux: starts program with these arguments through posix_spawn (no shell: nothing in a path or
// an argument is interpreted), in its own session, not waited for (the caller is about to end;
// the child is then reaped by init); true when it started. Windows: false.
bool startProgram(const std::string& program, const std::vector<std::string>& args);

} // namespace platform
