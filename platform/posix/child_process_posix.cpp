// The child runner on Linux: posix_spawn with the argument vector (no shell), standard input and
// output on /dev/null, then a poll of waitpid every 10 ms until the child ends or the bound runs
// out; a child past the bound gets SIGKILL and is reaped, so no zombie is left behind.
#include "platform/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/codepage.h"
#include "spawn_posix.h"

namespace platform {

namespace {

class PosixChildRunner : public ChildRunner {
public:
  ChildResult runHidden(const ChildCommand& command, unsigned timeoutMs) override {
    if (command.arguments.empty()) return ChildResult::NotStarted;
    // Paths and texts reach the child in the code page of its environment, as a shell would pass them.
    std::vector<std::string> args;
    for (const auto& a : command.arguments)
      args.push_back(wideToAnsi(a));
    pid_t pid = 0;
    detail::SpawnSetup setup;
    setup.searchPath = true; // a program named without a folder is looked up on the PATH, as the shell would
    int rc = detail::spawnChild(args, setup, &pid);
    if (rc != 0) return ChildResult::NotStarted;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int status = 0;
      pid_t got = waitpid(pid, &status, WNOHANG);
      if (got == pid || (got < 0 && errno != EINTR)) return ChildResult::Ended;
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return ChildResult::TimedOut;
  }
};

} // namespace

ChildRunner& systemChildRunner() {
  static PosixChildRunner* runner = new PosixChildRunner; // lives as long as the process
  return *runner;
}

} // namespace platform
