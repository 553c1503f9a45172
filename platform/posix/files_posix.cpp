#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Run as root with a user's HOME (sudo -E), what the kit creates would belong to root, and the
// user could never save or update again: a new folder or file takes the owner of the folder it is
// made in, as the hives and the atomic replacement do. The folder is the one just above the
// name; descriptor-based where there is one, never through a link.
void giveToFolderOwner(const std::string& path, int fd) {
  if (::geteuid() != 0) return;
  size_t slash = path.find_last_of('/');
  std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat folder;
  if (::stat(parent.c_str(), &folder) != 0 || folder.st_uid == 0) return;
  if (fd >= 0)
    (void)::fchown(fd, folder.st_uid, folder.st_gid);
  else
    (void)::lchown(path.c_str(), folder.st_uid, folder.st_gid);
}

} // namespace

std::string nativePath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

bool OutFile::createAlways(const std::string& path) {
  close();
  std::string p = nativePath(path);
  struct stat before;
  bool existed = ::lstat(p.c_str(), &before) == 0;
  fd_ = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ >= 0 && !existed) giveToFolderOwner(p, fd_);
  return fd_ >= 0;
}

bool OutFile::createNew(const std::string& path) {
  close();
  std::string p = nativePath(path);
  fd_ = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd_ >= 0) giveToFolderOwner(p, fd_);
  return fd_ >= 0;
}

bool OutFile::write(const void* data, size_t size) {
  if (fd_ < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool OutFile::isOpen() const { return fd_ >= 0; }

bool OutFile::close() {
  if (fd_ < 0) return false;
  int result = ::close(fd_);
  fd_ = -1;
  return result == 0 || errno == EINTR; // after EINTR the descriptor is closed all the same
}

bool makeSurePathExists(const std::string& path) {
  std::string p = nativePath(path);
  size_t last = p.rfind('/');
  if (last == std::string::npos) return true;
  for (size_t i = 1; i <= last; ++i) {
    if (p[i] != '/' || p[i - 1] == '/') continue;
    std::string dir = p.substr(0, i);
    if (::mkdir(dir.c_str(), 0755) == 0)
      giveToFolderOwner(dir, -1);
    else if (errno != EEXIST)
      return false;
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

bool pathExists(const std::string& path) {
  struct stat st;
  return ::stat(nativePath(path).c_str(), &st) == 0;
}

PathKind pathKind(const std::string& path) {
  struct stat st;
  if (::lstat(nativePath(path).c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISLNK(st.st_mode)) return PathKind::kLink;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  if (S_ISREG(st.st_mode)) return PathKind::kFile;
  return PathKind::kOther;
}

bool makeFolder(const std::string& path) {
  std::string p = nativePath(path);
  while (p.size() > 1 && p.back() == '/')
    p.pop_back();
  if (::mkdir(p.c_str(), 0755) == 0)
    giveToFolderOwner(p, -1);
  else if (errno != EEXIST)
    return false;
  return pathKind(path) == PathKind::kFolder;
}

// rename replaces the name only: a process that has the old file mapped or running keeps its
// inode, so it neither dies of SIGBUS nor stops the replacement with ETXTBSY.
bool replaceFile(const std::string& from, const std::string& to) {
  return ::rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0;
}

bool removeFile(const std::string& path) { return ::unlink(nativePath(path).c_str()) == 0; }

bool readFile(const std::string& path, std::string* contents) {
  int fd = ::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  *contents = std::move(out);
  return true;
}

bool PrivateTempFolder::create() {
  if (!path_.empty()) return true;
  const char* base = std::getenv("TMPDIR");
  std::string name = std::string(base && *base == '/' ? base : "/tmp") + "/formwell-XXXXXX";
  // mkdtemp makes the folder 0700 under a name nobody held before.
  if (!::mkdtemp(&name[0])) return false;
  path_ = name + "/";
  return true;
}

PrivateTempFolder::~PrivateTempFolder() {
  if (path_.empty()) return;
  if (DIR* dir = ::opendir(path_.c_str())) {
    while (struct dirent* entry = ::readdir(dir)) {
      std::string n = entry->d_name;
      if (n != "." && n != "..") ::unlink((path_ + n).c_str());
    }
    ::closedir(dir);
  }
  ::rmdir(path_.c_str());
}

} // namespace platform
