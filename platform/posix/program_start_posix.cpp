#include "platform/program_start.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/files.h"

extern char** environ;

namespace platform {

bool setCurrentFolder(const std::string& folder) { return ::chdir(nativePath(folder).c_str()) == 0; }

bool startCommandLine(const std::string&) { return false; }

bool startProgram(const std::string& program, const std::vector<std::string>& args) {
  std::string path = nativePath(program);
  if (::access(path.c_str(), X_OK) != 0) return false;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session: it outlives us and our terminal's hang-up does not reach it.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  return rc == 0;
}

} // namespace platform
