#include "platform/file_lock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/files.h"

namespace platform {

bool FileLock::lock(const std::string& path, int timeoutMs) {
  unlock();
  std::string p = nativePath(path);
  fd_ = ::open(p.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) return false;
  // Run as root in a user's folder, the lock file is the folder owner's, like everything else there.
  struct stat mine, folder;
  size_t slash = p.find_last_of('/');
  if (::geteuid() == 0 && ::fstat(fd_, &mine) == 0 && mine.st_uid == 0 &&
      ::stat(slash == std::string::npos ? "." : p.substr(0, slash ? slash : 1).c_str(), &folder) == 0 &&
      folder.st_uid != 0)
    (void)::fchown(fd_, folder.st_uid, folder.st_gid);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return held_ = true;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::close(fd_);
  fd_ = -1;
  return false;
}

void FileLock::unlock() {
  if (fd_ >= 0) ::close(fd_); // closing lets the lock go
  fd_ = -1;
  held_ = false;
}

} // namespace platform
