// The child runner on Windows: CreateProcessW with the command line alone, no handle inheritance,
// normal priority, the inherited environment and current folder, and a hidden window
// (STARTF_USESHOWWINDOW with SW_HIDE). A child past the bound is ended with TerminateProcess.
#include "platform/child_process.h"

#include <windows.h>

namespace platform {

namespace {

class Win32ChildRunner : public ChildRunner {
public:
  ChildResult runHidden(const ChildCommand& command, unsigned timeoutMs) override {
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::wstring line(command.commandLine.begin(), command.commandLine.end());
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si,
                        &pi))
      return ChildResult::NotStarted;
    ChildResult result = ChildResult::Ended;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
      TerminateProcess(pi.hProcess, 1);
      WaitForSingleObject(pi.hProcess, 5000);
      result = ChildResult::TimedOut;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
  }
};

} // namespace

ChildRunner& systemChildRunner() {
  static Win32ChildRunner* runner = new Win32ChildRunner; // lives as long as the process
  return *runner;
}

} // namespace platform
