// An exclusive lock between processes on a lock file, held while the object lives. Two formwell
// processes on one program folder take it around an installation, so that neither drops the
// other's mark or empties its staging folder. The lock file stays (empty); it is never written
// through a link. Not copyable; one thread uses an object.
#pragma once

#include <string>

namespace platform {

class FileLock {
public:
  FileLock() = default;
  ~FileLock() { unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock on the file at path (created when missing), waiting up to timeoutMs for
  // another process to let it go; false when that did not happen in time or the file cannot be
  // opened.
  bool lock(const std::string& path, int timeoutMs);
  void unlock();
  bool locked() const { return held_; }

private:
  bool held_ = false;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

} // namespace platform
