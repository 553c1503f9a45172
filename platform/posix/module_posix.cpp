#include "platform/module.h"

#include <climits>
#include <unistd.h>

namespace platform {

std::string modulePath() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return "";
  return std::string(buf, static_cast<size_t>(n));
}

std::string moduleFolder() {
  std::string p = modulePath();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

} // namespace platform
