// Replacing the running program on Linux. The kernel refuses to open a running program file
// for writing (ETXTBSY), but a file renamed over it takes its name while the running process
// keeps the old inode. So a detached /bin/sh waits until this process has ended and then copies
// the new file beside the target and renames it into place, which is atomic: the program file
// is always either the old one or the whole new one.
//
// The wait is a pipe: the shell reads its end until every writer has gone, and the only writer
// is this process (close-on-exec keeps it out of any other child), so the read ends exactly when
// this process ends, whatever becomes of its process id afterwards. The shell gets the three
// standard descriptors (on /dev/null) and that pipe, nothing else.
#include "platform/process_launcher.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include "platform/files.h"

extern char** environ;

namespace platform {

namespace {

// $1 source, $2 target; fd 3 the pipe. Every path is quoted; none is part of the script text.
const char kScript[] = "cat <&3 >/dev/null 2>&1\n"
                       "exec 3<&-\n"
                       "src=$1 dst=$2\n"
                       "tmp=$(dirname -- \"$dst\")/.$(basename -- \"$dst\").new.$$\n"
                       "if cp -- \"$src\" \"$tmp\"; then\n"
                       "  chmod --reference=\"$dst\" -- \"$tmp\" 2>/dev/null || chmod 755 -- \"$tmp\"\n"
                       "  mv -f -- \"$tmp\" \"$dst\" || rm -f -- \"$tmp\"\n"
                       "else\n"
                       "  rm -f -- \"$tmp\"\n"
                       "fi\n";

class PosixProcessLauncher : public ProcessLauncher {
public:
  bool replacesThroughCommandInterpreter() const override { return false; }
  std::string moduleShortPath() override { return ""; }
  std::string environmentVariable(const std::string&) override { return ""; }
  bool shellExecuteHidden(const std::string&, const std::string&, const std::string&, StartedProcess*) override {
    return false;
  }
  void setPriorityClass(StartedProcess, uint32_t) override {}
  void setOwnPriority(uint32_t, int) override {}
  void notifyShellDeleted(const std::string&) override {}

  bool replaceFileAfterExit(const std::string& source, const std::string& target) override {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    // Keep the read end away from fd 3, so that the dup2 below always makes a fresh descriptor
    // without close-on-exec.
    int readEnd = ::fcntl(fds[0], F_DUPFD_CLOEXEC, 10);
    ::close(fds[0]);
    if (readEnd < 0) {
      ::close(fds[1]);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, readEnd, 3);
    // Nothing else of ours reaches the shell, whether or not it was opened close-on-exec: a
    // connection it inherited would stay open as long as the shell waits.
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    // Its own session: no terminal, and a hang-up of ours does not reach it.
    sigset_t none, deflt;
    sigemptyset(&none);
    sigemptyset(&deflt);
    sigaddset(&deflt, SIGHUP);
    sigaddset(&deflt, SIGPIPE);
    sigaddset(&deflt, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &deflt);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string src = nativePath(source), dst = nativePath(target);
    char* argv[] = {const_cast<char*>("/bin/sh"),
                    const_cast<char*>("-c"),
                    const_cast<char*>(kScript),
                    const_cast<char*>("formwell-replace"),
                    const_cast<char*>(src.c_str()),
                    const_cast<char*>(dst.c_str()),
                    nullptr};
    pid_t pid;
    int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(readEnd);
    if (rc != 0) {
      ::close(fds[1]);
      return false;
    }
    // The write end stays open, on purpose, until this process ends.
    return true;
  }
};

} // namespace

ProcessLauncher& systemProcessLauncher() {
  static PosixProcessLauncher* launcher = new PosixProcessLauncher; // never destroyed
  return *launcher;
}

} // namespace platform
