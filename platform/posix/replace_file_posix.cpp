// replaceFileContents on Linux: a temporary file beside the target, fsync, rename, then fsync of
// the folder so that the rename itself survives a power cut.
#include "platform/replace_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/files.h"

namespace platform {

namespace {

bool writeAll(int fd, const char* p, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

} // namespace

bool replaceFileContents(const std::string& path, const void* data, size_t size) {
  std::string target = nativePath(path);
  std::string tmp = target + ".tmp." + std::to_string(getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = writeAll(fd, static_cast<const char*>(data), size);
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  std::string folder = target.substr(0, target.find_last_of('/') + 1);
  int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir); // the data is already safe in the file; this only hurries the rename to the disk
    ::close(dir);
  }
  return true;
}

} // namespace platform
