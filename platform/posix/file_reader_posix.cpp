#include "platform/file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"

namespace platform {

bool FileReader::open(const std::string& path) {
  close();
  fd_ = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    close();
    return false;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

long long FileReader::readAt(uint64_t offset, void* buffer, size_t count) {
  if (fd_ < 0) return -1;
  for (;;) {
    ssize_t n = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

void FileReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
}

} // namespace platform
