#include "platform/module.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string modulePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return "";
  std::string path(buf, static_cast<size_t>(n));
  // Once the program file has been replaced (renamed over, as the installation and the
  // self-replacement do), the kernel names the running file "PATH (deleted)". The program's path
  // is still PATH: a file of that name is there, unless a file really is named so.
  const std::string deleted = " (deleted)";
  struct stat st;
  if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0 &&
      ::lstat(path.c_str(), &st) != 0)
    path.resize(path.size() - deleted.size());
  return path;
}

std::string moduleFolder() {
  std::string p = modulePath();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

} // namespace platform
