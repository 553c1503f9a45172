// Replacing the running program on Windows: the shell starts the command interpreter hidden;
// the caller gives it the copy command and lowers its priority below its own, so the copy runs
// once this process has ended and the program file is free.
#include "platform/process_launcher.h"

#include <windows.h>
// after windows.h, which they build on
#include <shellapi.h>
#include <shlobj.h>

#include "ansi_path.h"

namespace platform {

namespace {

class Win32ProcessLauncher : public ProcessLauncher {
public:
  bool replacesThroughCommandInterpreter() const override { return true; }

  std::string moduleShortPath() override {
    // Asked as UTF-16, so that a folder name the code page lacks is still found; the short form's
    // names are plain ASCII.
    wchar_t buf[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "";
    // In place, as the short form is never longer than the long one.
    DWORD s = GetShortPathNameW(buf, buf, MAX_PATH);
    if (s == 0 || s >= MAX_PATH) return "";
    return detail::ansiPathOf(buf);
  }

  std::string environmentVariable(const std::string& name) override {
    char buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name.c_str(), buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "";
    return std::string(buf, n);
  }

  bool shellExecuteHidden(const std::string& program, const std::string& verb, const std::string& parameters,
                          StartedProcess* started) override {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = nullptr;
    info.lpVerb = verb.c_str();
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExA(&info)) return false;
    *started = info.hProcess; // kept open: the process outlives us and nobody waits for it
    return true;
  }

  void setPriorityClass(StartedProcess process, uint32_t priorityClass) override {
    if (process) SetPriorityClass(static_cast<HANDLE>(process), priorityClass);
  }

  void setOwnPriority(uint32_t priorityClass, int threadPriority) override {
    SetPriorityClass(GetCurrentProcess(), priorityClass);
    SetThreadPriority(GetCurrentThread(), threadPriority);
  }

  void notifyShellDeleted(const std::string& path) override {
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATHA, path.c_str(), nullptr);
  }

  bool replaceFileAfterExit(const std::string&, const std::string&) override { return false; }
};

} // namespace

ProcessLauncher& systemProcessLauncher() {
  static Win32ProcessLauncher* launcher = new Win32ProcessLauncher; // never destroyed
  return *launcher;
}

} // namespace platform
