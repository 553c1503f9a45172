#include "spawn_posix.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace detail {

int spawnChild(const std::vector<std::string>& args, const SpawnSetup& setup, pid_t* pid) {
  if (args.empty()) return EINVAL;
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int firstFree = 3 + static_cast<int>(setup.handed.size());
  // The handed descriptors are first copied above the places they go to, so that no dup2 below
  // overwrites one that a later dup2 still reads.
  std::vector<int> copies;
  int rc = 0;
  for (int fd : setup.handed) {
    int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, firstFree);
    if (copy < 0) rc = errno;
    copies.push_back(copy);
  }
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  if (setup.nullStdio) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  for (size_t i = 0; i < copies.size(); ++i)
    posix_spawn_file_actions_adddup2(&actions, copies[i], 3 + static_cast<int>(i));
  posix_spawn_file_actions_addclosefrom_np(&actions, firstFree);
  sigset_t none, deflt;
  sigemptyset(&none);
  sigemptyset(&deflt);
  for (int s : {SIGHUP, SIGPIPE, SIGTERM, SIGINT, SIGQUIT, SIGCHLD, SIGXFSZ})
    sigaddset(&deflt, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &deflt);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (setup.ownSession) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attr, flags);
  if (rc == 0) {
    rc = setup.searchPath && !std::strchr(argv[0], '/')
             ? posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ)
             : posix_spawn(pid, argv[0], &actions, &attr, argv.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  for (int copy : copies)
    if (copy >= 0) ::close(copy);
  return rc;
}

} // namespace detail
} // namespace platform
