#include "platform/program_start.h"

#include <unistd.h>

#include "platform/files.h"
#include "spawn_posix.h"

namespace platform {

bool setCurrentFolder(const std::string& folder) { return ::chdir(nativePath(folder).c_str()) == 0; }

bool startCommandLine(const std::string&) { return false; }

bool startProgram(const std::string& program, const std::vector<std::string>& args) {
  std::string path = nativePath(program);
  if (::access(path.c_str(), X_OK) != 0) return false;
  std::vector<std::string> argv{path};
  argv.insert(argv.end(), args.begin(), args.end());
  detail::SpawnSetup setup;
  setup.nullStdio = false; // its messages go where ours go
  setup.ownSession = true; // it outlives us and our terminal's hang-up does not reach it
  pid_t pid = 0;
  int rc = detail::spawnChild(argv, setup, &pid);
  return rc == 0;
}

} // namespace platform
