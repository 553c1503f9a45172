// Running a helper program hidden and waiting for it, with a bound: the form workstation starts the
// QR encoder this way. Windows starts the command line as it is (CreateProcess, no handle
// inheritance, hidden window, current folder inherited); Linux starts the argument vector with
// posix_spawn (no shell in between), its output discarded. A child that has not ended when the
// bound runs out is ended by force and reaped, so the caller answers again.
// Code that starts children takes a ChildRunner& so tests can hand in a fake.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class ChildResult { Ended, NotStarted, TimedOut };

struct ChildCommand {
  std::u16string commandLine;            // Windows: the whole command line, program included
  std::vector<std::u16string> arguments; // Linux: the program path, then each argument
};

class ChildRunner {
public:
  virtual ~ChildRunner() = default;
  virtual ChildResult runHidden(const ChildCommand& command, unsigned timeoutMs) = 0;
};

// The real runner of this machine (a process-wide object; never destroyed).
ChildRunner& systemChildRunner();

} // namespace platform
