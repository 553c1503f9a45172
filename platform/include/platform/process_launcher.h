// Starting the process that replaces the running program file after this process has ended.
// The two platforms do it differently: Windows lets a hidden command interpreter, started
// through the shell, copy the new file over the old one (the kit builds its command line and
// chooses the priorities); Linux cannot overwrite a running program file, so a detached shell
// waits for this process to end and renames a copy over it.
// Code that replaces the program takes a ProcessLauncher& so tests can hand in a fake;
// systemProcessLauncher() is the real one. Called from one thread at a time.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A started process whose handle is kept open (never waited for or closed).
using StartedProcess = void*;

class ProcessLauncher {
public:
  virtual ~ProcessLauncher() = default;

  // True on Windows: the replacement goes through the command interpreter (the calls below up to
  // notifyShellDeleted). False on Linux: replaceFileAfterExit.
  virtual bool replacesThroughCommandInterpreter() const = 0;

  // The running program file's path (at most 260 characters) in its short (8.3) form; empty when
  // either step fails.
  virtual std::string moduleShortPath() = 0;
  // An environment variable (at most 260 characters); empty when unset or longer.
  virtual std::string environmentVariable(const std::string& name) = 0;
  // Starts program through the shell (ShellExecuteEx) with this verb and these parameters, no
  // working folder, hidden, no owner window, keeping the process handle.
  virtual bool shellExecuteHidden(const std::string& program, const std::string& verb, const std::string& parameters,
                                  StartedProcess* started) = 0;
  // Priority classes and thread priorities, numbered as on Windows.
  virtual void setPriorityClass(StartedProcess process, uint32_t priorityClass) = 0;
  virtual void setOwnPriority(uint32_t priorityClass, int threadPriority) = 0;
  // Tells the shell that the file at path was deleted (SHChangeNotify, SHCNE_DELETE).
  virtual void notifyShellDeleted(const std::string& path) = 0;

  // Starts a detached, hidden shell (output discarded) that waits until this process has ended,
  // copies source beside target and renames the copy over target, keeping target's mode. The
  // paths travel as arguments, never as script text. False when it could not be started.
  virtual bool replaceFileAfterExit(const std::string& source, const std::string& target) = 0;
};

constexpr uint32_t kIdlePriorityClass = 0x40;
constexpr uint32_t kRealtimePriorityClass = 0x100;
constexpr int kThreadPriorityTimeCritical = 15;

// The launcher of this machine (a process-wide object; never destroyed).
ProcessLauncher& systemProcessLauncher();

} // namespace platform
