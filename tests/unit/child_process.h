// Runs a program and waits for it, for the tests that start the kit's programs.
#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace testutil {

// The program's exit code, or -1 when it could not be started.
inline int runProgram(const std::string& program, const std::vector<std::string>& args) {
#ifdef _WIN32
  std::string line = "\"" + program + "\"";
  for (const std::string& a : args)
    line += " \"" + a + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
#else
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// A program started and left running; wait() gives its exit code (-1 when it did not start).
class StartedProgram {
public:
  StartedProgram(const std::string& program, const std::vector<std::string>& args) {
#ifdef _WIN32
    std::string line = "\"" + program + "\"";
    for (const std::string& a : args)
      line += " \"" + a + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
#else
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
#endif
  }
  ~StartedProgram() { wait(); }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  int wait() {
#ifdef _WIN32
    if (!process_) return code_;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    process_ = nullptr;
    code_ = static_cast<int>(code);
#else
    if (pid_ <= 0) return code_;
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_) code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
#endif
    return code_;
  }

private:
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
  int code_ = -1;
};

} // namespace testutil
