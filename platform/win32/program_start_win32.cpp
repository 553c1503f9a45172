#include "platform/program_start.h"

#include <windows.h>

namespace platform {

bool setCurrentFolder(const std::string& folder) { return SetCurrentDirectoryA(folder.c_str()) != 0; }

bool startCommandLine(const std::string& commandLine) {
  // WinExec answers a value above 31 when the program started.
  return WinExec(commandLine.c_str(), SW_SHOWNORMAL) > 31;
}

bool startProgram(const std::string&, const std::vector<std::string>&) { return false; }

} // namespace platform
