// The registry on Linux: one ".reg"-format text hive per root key under
// ${XDG_CONFIG_HOME:-~/.config}/formwell/. formwell and formdesk share the hives, so a change
// is made under an exclusive lock (flock on a ".lock" file beside the hive) as read, modify,
// write to a temporary file, rename: a reader sees the old or the new file, never half of one.
// A hive that cannot be parsed reads as empty; the first change moves it aside (".damaged")
// before writing a new one, so what it held is never lost.
#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "reg_hive.h"

namespace platform {

namespace {

using detail::Hive;
using detail::HiveKey;
using detail::HiveValue;

const char* rootName(RegRoot root) {
  return root == RegRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string envOr(const char* name, const std::string& fallbackBelowHome) {
  const char* v = std::getenv(name);
  if (v && *v) return v;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/" + fallbackBelowHome;
}

std::string hiveFolder() { return envOr("XDG_CONFIG_HOME", ".config") + "/formwell"; }
std::string hivePath(RegRoot root) { return hiveFolder() + "/" + rootName(root) + ".reg"; }

// The Common Files folder that Windows answers from the registry; Linux answers the user's
// data folder unless the hive names another.
const char kCommonFilesKey[] = "software\\microsoft\\windows\\currentversion";
const char kCommonFilesValue[] = "CommonFilesDir";

bool isCommonFilesKeyOrParent(RegRoot root, const std::string& path) {
  if (root != RegRoot::LocalMachine) return false;
  std::string p = path;
  while (!p.empty() && p.back() == '\\')
    p.pop_back();
  std::string k = kCommonFilesKey;
  if (p.size() > k.size()) return false;
  return Hive::equalNoCase(p, k.substr(0, p.size())) && (p.size() == k.size() || k[p.size()] == '\\' || p.empty());
}

struct PosixKey {
  RegRoot root;
  std::string path;
};

// Loads a hive; *damaged tells whether a file was there but could not be parsed.
Hive loadHive(RegRoot root, bool* damaged) {
  Hive hive(rootName(root));
  std::string text;
  *damaged = false;
  if (readFile(hivePath(root), &text)) *damaged = !hive.parse(text);
  return hive;
}

// An exclusive lock on a hive for the time of one change.
class HiveLock {
public:
  explicit HiveLock(RegRoot root) {
    makeSurePathExists(hiveFolder() + "/");
    fd_ = ::open((hivePath(root) + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~HiveLock() {
    if (fd_ >= 0) ::close(fd_); // closing releases the lock
  }
  HiveLock(const HiveLock&) = delete;
  HiveLock& operator=(const HiveLock&) = delete;
  bool ok() const { return fd_ >= 0; }

private:
  int fd_ = -1;
};

bool writeHive(RegRoot root, const Hive& hive, bool damaged) {
  std::string path = hivePath(root);
  if (damaged) {
    std::string aside = path + ".damaged";
    for (int n = 1; pathExists(aside); ++n)
      aside = path + ".damaged." + std::to_string(n);
    if (std::rename(path.c_str(), aside.c_str()) != 0) return false;
  }
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  std::string text = hive.serialize();
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t off = 0;
  while (off < text.size()) {
    ssize_t n = ::write(fd, text.data() + off, text.size() - off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    off += static_cast<size_t>(n);
  }
  bool ok = ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

class PosixRegistry : public Registry {
public:
  bool openKey(RegRoot root, const std::string& subKey, uint32_t /*access*/, RegHandle* out) override {
    bool damaged = false;
    Hive hive = loadHive(root, &damaged);
    if (!hive.hasKey(subKey) && !isCommonFilesKeyOrParent(root, subKey)) return false;
    *out = new PosixKey{root, subKey};
    return true;
  }

  bool createKey(RegRoot root, const std::string& subKey, uint32_t /*access*/, RegHandle* out) override {
    bool damaged = false;
    if (!loadHive(root, &damaged).hasKey(subKey) || damaged) {
      HiveLock lock(root);
      if (!lock.ok()) return false;
      Hive hive = loadHive(root, &damaged);
      if (!hive.hasKey(subKey) || damaged) {
        hive.ensureKey(subKey);
        if (!writeHive(root, hive, damaged)) return false;
      }
    }
    *out = new PosixKey{root, subKey};
    return true;
  }

  bool queryValue(RegHandle h, const std::string& name, uint32_t* type, void* buf, uint32_t* size) override {
    auto* key = static_cast<PosixKey*>(h);
    bool damaged = false;
    Hive hive = loadHive(key->root, &damaged);
    std::string data;
    uint32_t t = 0;
    const HiveKey* k = hive.findKey(key->path);
    const HiveValue* v = k ? Hive::findValue(*k, name) : nullptr;
    if (v) {
      data = v->data;
      t = v->type;
    } else if (isCommonFilesKeyOrParent(key->root, key->path) && Hive::equalNoCase(key->path, kCommonFilesKey) &&
               Hive::equalNoCase(name, kCommonFilesValue)) {
      data = envOr("XDG_DATA_HOME", ".local/share");
      t = kRegSz;
    } else {
      return false;
    }
    if (data.size() > *size) return false;
    if (!data.empty()) std::memcpy(buf, data.data(), data.size());
    // Text read with room to spare ends with a terminator, as on Windows.
    if (t == kRegSz && data.size() < *size) static_cast<char*>(buf)[data.size()] = '\0';
    *size = static_cast<uint32_t>(data.size());
    *type = t;
    return true;
  }

  bool setValue(RegHandle h, const std::string& name, uint32_t type, const void* data, uint32_t size) override {
    auto* key = static_cast<PosixKey*>(h);
    HiveLock lock(key->root);
    if (!lock.ok()) return false;
    bool damaged = false;
    Hive hive = loadHive(key->root, &damaged);
    Hive::setValue(hive.ensureKey(key->path), name, type, std::string(static_cast<const char*>(data), size));
    return writeHive(key->root, hive, damaged);
  }

  void closeKey(RegHandle h) override { delete static_cast<PosixKey*>(h); }
};

} // namespace

Registry& systemRegistry() {
  static PosixRegistry* registry = new PosixRegistry; // lives as long as the process
  return *registry;
}

} // namespace platform
