// AtomicFile on Linux. Every step works relative to the folder's descriptor, opened once: the
// temporary is created there with O_EXCL|O_NOFOLLOW (a link or file planted at its name makes the
// create fail, never a write elsewhere), and renameat replaces the name in that same folder even
// if the folder's path is changed meanwhile.
#include "platform/replace_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "../common/temp_name.h"

namespace platform {

struct AtomicFile::State {
  int dir = -1;
  int fd = -1;
  bool ok = true;
  int newFileMode = 0600;
  std::string name; // the target's name inside dir
  std::string temp; // the temporary's name inside dir
};

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

// The process's file creation mask, read without changing it (umask() would, for a moment, for
// every thread); 022 where /proc does not tell.
mode_t currentUmask() {
  FILE* f = std::fopen("/proc/self/status", "re");
  if (!f) return 022;
  char line[256];
  unsigned long mask = 022;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "Umask: %lo", &mask) == 1) break;
  std::fclose(f);
  return static_cast<mode_t>(mask & 0777);
}

// What is at name in dir, the link itself when it is one; false when nothing is.
bool statNoFollow(int dir, const std::string& name, struct stat* st) {
  return ::fstatat(dir, name.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool processAlive(long pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

} // namespace

AtomicFile::AtomicFile() : state_(new State) {}

AtomicFile::~AtomicFile() {
  discard();
  delete state_;
}

bool AtomicFile::open(const std::string& path, int newFileMode) {
  discard();
  State& s = *state_;
  std::string target = nativePath(path);
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  s.name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (s.name.empty() || s.name == "." || s.name == "..") return false;
  s.dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (s.dir < 0) return false;
  struct stat st;
  if (statNoFollow(s.dir, s.name, &st) && !S_ISREG(st.st_mode)) { // a link, a folder, a device
    discard();
    return false;
  }
  static std::atomic<unsigned> counter{0};
  for (int tries = 0; tries < 100 && s.fd < 0; ++tries) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long long salt = (static_cast<unsigned long long>(now.tv_nsec) << 20) ^
                              static_cast<unsigned long long>(now.tv_sec) ^ (counter++ * 0x9E3779B97F4A7C15ull);
    s.temp = detail::tempName(static_cast<long>(getpid()), salt);
    // Private while it is being written, whatever it will be once it is in place.
    s.fd = ::openat(s.dir, s.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (s.fd < 0 && errno != EEXIST) break;
  }
  if (s.fd < 0) {
    s.temp.clear();
    discard();
    return false;
  }
  s.ok = true;
  s.newFileMode = newFileMode;
  return true;
}

bool AtomicFile::write(const void* data, size_t size) {
  State& s = *state_;
  if (s.fd < 0) return false;
  if (s.ok && size > 0) s.ok = writeAll(s.fd, static_cast<const char*>(data), size);
  return s.ok;
}

bool AtomicFile::commit() {
  State& s = *state_;
  if (s.fd < 0 || !s.ok) {
    discard();
    return false;
  }
  struct stat st;
  bool ok = true;
  if (statNoFollow(s.dir, s.name, &st)) {
    if (!S_ISREG(st.st_mode)) ok = false; // became a link or a folder since open()
    // The owner first: a change of owner clears set-id bits that the mode then puts back. Only
    // root may give a file away; anyone may keep a group they belong to.
    if (ok && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()))
      ok = ::fchown(s.fd, ::geteuid() == 0 ? st.st_uid : static_cast<uid_t>(-1), st.st_gid) == 0 || errno == EPERM;
    ok = ok && ::fchmod(s.fd, st.st_mode & 07777) == 0;
  } else {
    // Root writing into a user's folder (sudo keeps HOME) writes the user's file, not its own.
    struct stat folder;
    if (::geteuid() == 0 && ::fstat(s.dir, &folder) == 0 && folder.st_uid != 0)
      ok = ::fchown(s.fd, folder.st_uid, folder.st_gid) == 0;
    ok = ok && ::fchmod(s.fd, static_cast<mode_t>(s.newFileMode) & 07777 & ~currentUmask()) == 0;
  }
  ok = ok && ::fsync(s.fd) == 0;
  ok = ::close(s.fd) == 0 && ok; // a full disk may only show here
  s.fd = -1;
  if (!ok || ::renameat(s.dir, s.temp.c_str(), s.dir, s.name.c_str()) != 0) {
    discard();
    return false;
  }
  s.temp.clear();
  ::fsync(s.dir); // the data is already safe in the file; this only hurries the rename to the disk
  discard();
  return true;
}

void AtomicFile::discard() {
  State& s = *state_;
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  if (s.dir >= 0 && !s.temp.empty()) ::unlinkat(s.dir, s.temp.c_str(), 0);
  s.temp.clear();
  if (s.dir >= 0) ::close(s.dir);
  s.dir = -1;
  s.ok = false;
}

bool replaceFileContents(const std::string& path, const void* data, size_t size) {
  AtomicFile file;
  return file.open(path) && file.write(data, size) && file.commit();
}

void removeStaleTemporaries(const std::string& folder) {
  int dir = ::open(nativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  DIR* d = ::fdopendir(dir);
  if (!d) {
    ::close(dir);
    return;
  }
  while (dirent* e = ::readdir(d)) {
    long pid = detail::temporaryOwner(e->d_name);
    struct stat st;
    if (pid <= 0 || processAlive(pid) || !statNoFollow(dir, e->d_name, &st)) continue;
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) ::unlinkat(dir, e->d_name, 0); // a link goes, not its target
  }
  ::closedir(d); // closes dir too
}

} // namespace platform
