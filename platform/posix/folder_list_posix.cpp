#include "platform/folder_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "platform/files.h"

namespace platform {

bool listFolder(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  // O_NOFOLLOW: a link in the folder's place is not listed through.
  int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  while (dirent* e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names->push_back(e->d_name);
  ::closedir(dir);
  return true;
}

bool removeFolder(const std::string& path) { return ::rmdir(nativePath(path).c_str()) == 0; }

bool flushFileSystem(const std::string& path) {
  int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::syncfs(fd) == 0;
  ::close(fd);
  return ok;
}

} // namespace platform
