// The registry on Linux: one ".reg"-format text hive per root key under
// ${XDG_CONFIG_HOME:-~/.config}/formwell/. formwell and formdesk share the hives, so a change
// is made under an exclusive lock (flock on a ".lock" file beside the hive) as read, modify,
// write to a temporary file, rename: a reader sees the old or the new file, never half of one.
// A hive that holds lines it cannot read is read as far as it can be; the first change moves
// the file aside (".damaged") before writing a new one, so what it held is never lost.
// The hives hold UTF-8; names and REG_SZ data are converted from and to the ANSI code page here,
// at the calls, and nowhere else (text given as UTF-16 goes in as it is). The hives have one
// view of HKEY_LOCAL_MACHINE: the WOW64 view bits of an access mask change nothing.
#include "platform/registry.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/replace_file.h"
#include "reg_hive.h"

namespace platform {

namespace {

using detail::Hive;
using detail::HiveKey;
using detail::HiveValue;

const char* rootName(RegRoot root) {
  return root == RegRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

// The user's home: HOME, or without it the password database's entry; empty when neither names
// one. Never a shared folder such as /tmp, where another user could plant the hives.
std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 16384);
  passwd entry;
  passwd* found = nullptr;
  int err;
  while ((err = getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found)) == ERANGE && buf.size() < (1u << 20))
    buf.resize(buf.size() * 2);
  if (err != 0 || !found || !found->pw_dir || found->pw_dir[0] != '/') return "";
  return found->pw_dir;
}

// An XDG base folder: the variable when it names an absolute path (relative ones are ignored, as
// the XDG rules say), else the folder below the home; empty when there is no home.
std::string baseFolder(const char* variable, const char* belowHome) {
  const char* v = std::getenv(variable);
  if (v && v[0] == '/') return v;
  std::string home = homeFolder();
  return home.empty() ? std::string() : home + "/" + belowHome;
}

std::string hiveFolder() {
  std::string base = baseFolder("XDG_CONFIG_HOME", ".config");
  return base.empty() ? std::string() : base + "/formwell";
}

std::string hivePath(RegRoot root) {
  std::string folder = hiveFolder();
  return folder.empty() ? std::string() : folder + "/" + rootName(root) + ".reg";
}

// Names and REG_SZ text between the callers' ANSI code page and the hives' UTF-8.
std::string toHive(const std::string& ansi) { return wideToUtf8(ansiToWide(ansi)); }
std::string fromHive(const std::string& utf8) { return wideToAnsi(utf8ToWide(utf8)); }

// REG_EXPAND_SZ and REG_MULTI_SZ: the hive holds their UTF-16LE bytes, as the registry does; the
// ANSI calls give and take them in the ANSI code page, terminators included, as Windows does.
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegMultiSz = 7;
bool isWideText(uint32_t type) { return type == kRegExpandSz || type == kRegMultiSz; }

std::string utf16leToAnsi(const std::string& bytes) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
  return wideToAnsi(wide);
}

std::string ansiToUtf16le(const std::string& ansi) {
  std::string bytes;
  for (char16_t c : ansiToWide(ansi)) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

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
  std::string path; // UTF-8, as the hive holds it
};

// Loads a hive; *damaged tells whether a file was there but could not be parsed.
Hive loadHive(RegRoot root, bool* damaged) {
  Hive hive(rootName(root));
  std::string text;
  *damaged = false;
  std::string path = hivePath(root);
  if (!path.empty() && readFile(path, &text)) *damaged = !hive.parse(text);
  return hive;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// The file a change replaces: the hive itself or, when the hive is a symbolic link, the file at
// the end of its links, so that the link stays. Empty when the links cannot be followed.
std::string followLinks(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> buf(PATH_MAX);
    ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return "";
    std::string target(buf.data(), static_cast<size_t>(n));
    path = target[0] == '/' ? target : folderOf(path) + target;
  }
  return ""; // a loop of links
}

// Creates the folder and any missing parents with mode 0700. Run as root (sudo keeps HOME), a
// folder it creates belongs to the owner of the folder it is created in, so that the user's
// configuration stays the user's and not root's.
bool makePrivateFolder(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = folder.substr(0, folder.find_last_not_of('/', folder.rfind('/')) + 1);
  if (parent.empty()) parent = "/";
  if (parent == folder || !makePrivateFolder(parent)) return false;
  if (::mkdir(folder.c_str(), 0700) != 0)
    return errno == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (::geteuid() == 0 && ::stat(parent.c_str(), &st) == 0 && st.st_uid != 0 &&
      ::lchown(folder.c_str(), st.st_uid, st.st_gid) != 0 && errno != EPERM)
    return false;
  return true;
}

// An exclusive lock on a hive for the time of one change.
class HiveLock {
public:
  explicit HiveLock(RegRoot root) {
    std::string folder = hiveFolder();
    if (folder.empty()) return;
    if (!makePrivateFolder(folder)) return;
    removeStaleTemporaries(folder);
    fd_ = ::open((hivePath(root) + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    struct stat st, parent;
    if (::geteuid() == 0 && ::fstat(fd_, &st) == 0 && st.st_uid == 0 && ::stat(folder.c_str(), &parent) == 0 &&
        parent.st_uid != 0 && ::fchown(fd_, parent.st_uid, parent.st_gid) != 0 && errno != EPERM) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    int r;
    while ((r = flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (r != 0) { // without the lock a change could undo another process's: none is made
      ::close(fd_);
      fd_ = -1;
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
  std::string link = hivePath(root);
  if (link.empty()) return false;
  // A hive that is a symbolic link stays one: the file at its end is replaced.
  std::string path = followLinks(link);
  if (path.empty()) return false;
  if (damaged && pathExists(path)) {
    std::string aside = path + ".damaged";
    for (int n = 1; pathExists(aside); ++n)
      aside = path + ".damaged." + std::to_string(n);
    // A second name for the damaged file keeps what it held; the hive's own name then gets the
    // new file with the damaged one's mode and owner. Where links are not possible, it is moved.
    if (::link(path.c_str(), aside.c_str()) != 0 && std::rename(path.c_str(), aside.c_str()) != 0) return false;
  }
  // A new hive is the user's alone (it may hold PROXY_PWD); an existing one keeps its mode and
  // owner (the floor's rules).
  std::string text = hive.serialize();
  AtomicFile file;
  return file.open(path, 0600) && file.write(text.data(), text.size()) && file.commit();
}

class PosixRegistry : public Registry {
public:
  bool openKey(RegRoot root, const std::string& subKey, uint32_t /*access*/, RegHandle* out) override {
    bool damaged = false;
    Hive hive = loadHive(root, &damaged);
    std::string path = toHive(subKey);
    if (!hive.hasKey(path) && !isCommonFilesKeyOrParent(root, path)) return false;
    *out = new PosixKey{root, path};
    return true;
  }

  bool createKey(RegRoot root, const std::string& subKey, uint32_t /*access*/, RegHandle* out) override {
    std::string path = toHive(subKey);
    if (!Hive::writableKeyPath(path)) return false;
    bool damaged = false;
    if (!loadHive(root, &damaged).hasKey(path) || damaged) {
      HiveLock lock(root);
      if (!lock.ok()) return false;
      Hive hive = loadHive(root, &damaged);
      if (!hive.hasKey(path) || damaged) {
        hive.ensureKey(path);
        if (!writeHive(root, hive, damaged)) return false;
      }
    }
    *out = new PosixKey{root, path};
    return true;
  }

  bool queryValue(RegHandle h, const std::string& nameIn, uint32_t* type, void* buf, uint32_t* size) override {
    auto* key = static_cast<PosixKey*>(h);
    std::string name = toHive(nameIn);
    bool damaged = false;
    Hive hive = loadHive(key->root, &damaged);
    std::string data;
    uint32_t t = 0;
    const HiveKey* k = hive.findKey(key->path);
    const HiveValue* v = k ? Hive::findValue(*k, name) : nullptr;
    if (v) {
      t = v->type;
      data = t == kRegSz ? fromHive(v->data) : isWideText(t) ? utf16leToAnsi(v->data) : v->data;
    } else if (isCommonFilesKeyOrParent(key->root, key->path) && Hive::equalNoCase(key->path, kCommonFilesKey) &&
               Hive::equalNoCase(name, kCommonFilesValue)) {
      data = baseFolder("XDG_DATA_HOME", ".local/share"); // a file name: its bytes as they are
      t = kRegSz;
      if (data.empty()) return false;
    } else {
      return false;
    }
    if (!buf) { // only asked whether the value is there, and how long it is
      *size = static_cast<uint32_t>(data.size());
      *type = t;
      return true;
    }
    if (data.size() > *size) return false;
    if (!data.empty()) std::memcpy(buf, data.data(), data.size());
    // Text read with room to spare ends with a terminator, as on Windows.
    if ((t == kRegSz || t == kRegExpandSz) && data.size() < *size) static_cast<char*>(buf)[data.size()] = '\0';
    *size = static_cast<uint32_t>(data.size());
    *type = t;
    return true;
  }

  bool setValue(RegHandle h, const std::string& name, uint32_t type, const void* data, uint32_t size) override {
    auto* key = static_cast<PosixKey*>(h);
    std::string bytes = size ? std::string(static_cast<const char*>(data), size) : std::string();
    if (type == kRegSz) bytes = toHive(bytes);
    if (isWideText(type)) bytes = ansiToUtf16le(bytes);
    return store(*key, name, type, bytes);
  }

  // The text goes into the hive as UTF-8 without passing through the ANSI code page.
  bool setWideString(RegHandle h, const std::string& name, const std::u16string& text) override {
    return store(*static_cast<PosixKey*>(h), name, kRegSz, wideToUtf8(text));
  }

  // Every change has replaced the hive through a synced file and folder before its call
  // returned: there is nothing left to write.
  bool flushKey(RegHandle h) override { return h != nullptr; }

  void closeKey(RegHandle h) override { delete static_cast<PosixKey*>(h); }

private:
  // One change: under the lock, the hive as it is now, with the value (data as the hive holds
  // it), replaces the file.
  static bool store(const PosixKey& key, const std::string& name, uint32_t type, const std::string& hiveData) {
    HiveLock lock(key.root);
    if (!lock.ok()) return false;
    bool damaged = false;
    Hive hive = loadHive(key.root, &damaged);
    Hive::setValue(hive.ensureKey(key.path), toHive(name), type, hiveData);
    return writeHive(key.root, hive, damaged);
  }
};

} // namespace

Registry& systemRegistry() {
  static PosixRegistry* registry = new PosixRegistry; // lives as long as the process
  return *registry;
}

} // namespace platform
