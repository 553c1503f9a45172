// Starting a child process on Linux, with one rule for what it inherits, for every place that
// starts one (the QR encoder, formdesk, the program replacement): the child gets standard input,
// output and error (on /dev/null, or this process's own) and the descriptors it is explicitly
// handed, at 3, 4, ... in order; nothing else of ours, whether or not it was opened close-on-exec
// (a connection, a lock or a saved-data file held open by another thread would otherwise stay
// open as long as the child runs). Signals start at their defaults with none blocked.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {
namespace detail {

struct SpawnSetup {
  bool nullStdio = true;   // standard descriptors on /dev/null; false: this process's own
  bool ownSession = false; // a session of its own: no terminal, our hang-up does not reach it
  bool searchPath = false; // a program named without a folder is looked up on the PATH
  std::vector<int> handed; // descriptors of ours the child gets as 3, 4, ...
};

// Starts argv[0] with argv; 0 and *pid set on success, else an errno value.
int spawnChild(const std::vector<std::string>& argv, const SpawnSetup& setup, pid_t* pid);

} // namespace detail
} // namespace platform
