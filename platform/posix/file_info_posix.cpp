#include "platform/file_info.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/files.h"

namespace platform {

int64_t fileSize(const std::string& path) {
  struct stat st;
  if (::stat(nativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

int64_t fileModifiedTime(const std::string& path) {
  struct stat st;
  if (::stat(nativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(nativePath(a).c_str(), &sa) == 0 && ::stat(nativePath(b).c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool fileWritable(const std::string& path) {
  std::string p = nativePath(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return false;
  // root passes access(W_OK) for any file; the mode bits are what a read-only attribute is here.
  return ::access(p.c_str(), W_OK) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

std::string fullPath(const std::string& path) {
  std::string p = nativePath(path);
  if (p.empty()) return "";
  if (p[0] != '/') {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return "";
    p = std::string(cwd) + "/" + p;
  }
  bool trailing = p.back() == '/';
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    std::string seg = p.substr(i, j - i);
    i = j + 1;
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(seg);
  }
  std::string out;
  for (const std::string& s : parts)
    out += "/" + s;
  if (out.empty() || trailing) out += "/";
  return out;
}

bool markExecutable(const std::string& path) {
  std::string p = nativePath(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return false;
  // Execute for whoever may read it.
  mode_t mode = st.st_mode & 07777;
  mode |= (mode & 0444) >> 2;
  return ::chmod(p.c_str(), mode) == 0;
}

} // namespace platform
