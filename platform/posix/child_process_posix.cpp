// The child runner on Linux: posix_spawn with the argument vector (no shell), standard input and
// output on /dev/null, then a poll of waitpid every 10 ms until the child ends or the bound runs
// out; a child past the bound gets SIGKILL and is reaped, so no zombie is left behind.
#include "platform/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>

#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/codepage.h"

extern char** environ;

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
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    // A program named without a folder is looked up on the PATH, as the shell would.
    int rc = std::strchr(argv[0], '/') ? posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                                       : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
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
