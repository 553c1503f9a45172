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

#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "platform/files.h"
#include "spawn_posix.h"

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
    std::vector<std::string> argv{"/bin/sh", "-c", kScript, "formwell-replace", nativePath(source), nativePath(target)};
    detail::SpawnSetup setup;
    setup.ownSession = true; // no terminal, and a hang-up of ours does not reach it
    setup.handed = {fds[0]}; // the pipe's read end, as fd 3
    pid_t pid = 0;
    int rc = detail::spawnChild(argv, setup, &pid);
    ::close(fds[0]);
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
