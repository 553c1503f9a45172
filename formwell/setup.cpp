#include "setup.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive_reader.h"
#include "platform/codepage.h"
#include "platform/file_info.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/folder_list.h"
#include "platform/message_box.h"
#include "platform/module.h"
#include "platform/replace_file.h"
#include "platform/resources.h"
#include "platform/signature.h"
#include "platform/user_folders.h"

namespace {

const char kCurrentVersionKey[] = "software\\microsoft\\windows\\currentversion";
const char kFormwellKey[] = "software\\orvanta\\formwell";
constexpr uint32_t kFormwellKeyAccess = 0x2001F;
constexpr uint32_t kValueBuffer = 256;

// The fallback program folder when the Common Files folder is unknown. Windows: a fixed folder
// on drive D. Linux has no drive D; the equivalent fixed place that the user owns is a folder of
// the same name in the home folder.
std::string fallbackProgramFolder() {
  std::string name = platform::wideToAnsi(platform::utf8ToWide("Velor服务平台自助申请软件\\"));
#ifdef _WIN32
  return "d:\\" + name;
#else
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "\\" + name;
#endif
}

// Reads a REG_SZ value of at most 256 bytes as text; empty when the key or value is missing.
// The buffer has room for a terminator after 256 bytes of data, which a value written without
// one may fill completely.
std::string readValue(platform::Registry& registry, const char* key, const char* value,
                      platform::RegRoot root = platform::RegRoot::LocalMachine) {
  platform::RegKey k(registry);
  if (!k.openRead(root, key)) return "";
  char buf[kValueBuffer + 1] = {};
  if (!k.query(value, buf, kValueBuffer)) return "";
  return buf;
}

// Windows opens a device, not a file, for these names, whatever extension follows ("nul.txt").
bool deviceName(const std::string& part) {
  std::string base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ')
    base.pop_back();
  for (char& c : base)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
    return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

// Splits a member's name into the folder names of its path below the destination, "/" and "\"
// both separating names. Refused (false): names that the system would read against another root
// (absolute, "\\host\share", a drive letter or a stream with ":"), names holding a NUL byte,
// names whose ".." would climb above the destination at any point, and names made of dots and
// blanks only other than "." and ".." (Windows reads "..." or ".. " as a parent or as nothing),
// and device names.
bool memberPath(const std::string& name, std::vector<std::string>* parts) {
  parts->clear();
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return false;
  if (name.find(':') != std::string::npos || name.find('\0') != std::string::npos) return false;
  size_t at = 0;
  while (at <= name.size()) {
    size_t end = name.find_first_of("/\\", at);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(at, end - at);
    at = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts->empty()) return false;
      parts->pop_back();
      continue;
    }
    if (part.find_first_not_of(". ") == std::string::npos || deviceName(part)) return false;
    parts->push_back(part);
  }
  return true;
}

// Names compared as Windows compares them (ASCII letters without regard to case).
bool sameName(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

const char kTextWriteFailed[] = "Could not write file ";
const char kTextFolderFailed[] = "Could not create folder ";
const char kTextVersionFailed[] = "Could not record the installed version !";

// The hidden folder inside the program folder where an extraction first writes its files (on the
// same file system, so moving a file into place is a rename), and the mark of an installation
// that has begun and not yet been recorded.
const char kStagingName[] = ".staging";
const char kBackupName[] = ".backup";
const char kMarkName[] = "install.pending";
const char kLockName[] = "install.lock";
const char kMarkHeader[] = "formwell installation";
// How long a start waits for another formwell process's installation on the same folder.
constexpr int kLockWaitMs = 120000;

// Names of the program folder that belong to the installation itself or to the customer, never to
// a package: a member there could replace the package being installed, the mark, the staged or
// kept files, or the saved applications.
bool reservedName(const std::vector<std::string>& parts, bool folder) {
  if (parts.empty()) return false;
  for (const char* own : {kStagingName, kBackupName})
    if (sameName(parts[0], own)) return true;
  if (parts.size() != 1 || folder) return false;
  for (const char* own : {"tm.zip", "tm.zip.part", kMarkName, kLockName, "json.sav", "json_ac.sav"})
    if (sameName(parts[0], own)) return true;
  return false;
}

// A member's name as a message may show it: control characters as "?".
std::string shownName(const std::string& name) {
  std::string shown = name;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return shown;
}

// One member of the archive, as the extraction will write it.
struct Member {
  int index = 0;                  // in the archive
  std::vector<std::string> parts; // its path below the destination
  bool folder = false;
  bool executable = false;
};

std::string joined(const std::string& base, const std::vector<std::string>& parts, size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; ++i)
    path += "\\" + parts[i];
  return path;
}

// Removes what is at path: a file or a link (never what it points at), or a folder with everything
// in it. True when nothing is left there.
bool removeTree(const std::string& path) {
  platform::PathKind kind = platform::pathKind(path);
  if (kind == platform::PathKind::kMissing) return true;
  if (kind != platform::PathKind::kFolder) return platform::removeFile(path);
  std::vector<std::string> names;
  if (!platform::listFolder(path, &names)) return false;
  for (const std::string& name : names)
    removeTree(path + "\\" + name);
  return platform::removeFolder(path);
}

// Every file below root (not through links), as paths relative to it.
void filesBelow(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
  std::vector<std::string> names;
  if (!platform::listFolder(rel.empty() ? root : root + "\\" + rel, &names)) return;
  for (const std::string& name : names) {
    std::string child = rel.empty() ? name : rel + "\\" + name;
    if (platform::pathKind(root + "\\" + child) == platform::PathKind::kFolder)
      filesBelow(root, child, out);
    else
      out->push_back(child);
  }
}

// The files an installation replaces, kept in the program folder's ".backup" until the version is
// recorded: "old\<path>" holds a replaced file, "new\<path>" (empty) stands for a file that was
// not there before. The first record of a path wins, so an installation done again after a crash
// keeps the files of the installation before it, not its own half-placed ones.
class Backup {
public:
  explicit Backup(const std::string& base) : base_(base), root_(base + "\\" + kBackupName) {}

  // Before the file at parts is replaced; false when what is there could not be kept.
  bool keep(const std::vector<std::string>& parts, bool exists) {
    std::string old = joined(root_ + "\\old", parts, parts.size());
    std::string added = joined(root_ + "\\new", parts, parts.size());
    if (platform::pathKind(old) != platform::PathKind::kMissing ||
        platform::pathKind(added) != platform::PathKind::kMissing)
      return true;
    if (exists) {
      // A rename, also of a running program or a loaded library, which goes on with the old file.
      return platform::makeSurePathExists(old) && platform::replaceFile(joined(base_, parts, parts.size()), old);
    }
    platform::OutFile marker;
    return platform::makeSurePathExists(added) && marker.createNew(added) && marker.close();
  }

  // Puts the kept files back and removes the ones that were not there before; then the backup goes.
  // False when a file could not be put back (it then stays in the backup).
  bool restore() {
    bool ok = true;
    std::vector<std::string> files;
    filesBelow(root_ + "\\new", "", &files);
    for (const std::string& rel : files)
      if (platform::pathKind(base_ + "\\" + rel) == platform::PathKind::kFile) platform::removeFile(base_ + "\\" + rel);
    files.clear();
    filesBelow(root_ + "\\old", "", &files);
    for (const std::string& rel : files)
      ok = platform::makeSurePathExists(base_ + "\\" + rel) &&
           platform::replaceFile(root_ + "\\old\\" + rel, base_ + "\\" + rel) && ok;
    if (ok) clear();
    return ok;
  }

  void clear() { removeTree(root_); }

private:
  std::string base_, root_;
};

// Writes the files of the members into the staging folder, each under its position's number:
// new files in a new folder, so none needs a temporary name and a rename of its own. Large
// archives are unpacked by two threads, each with a reader of its own (readers share nothing),
// so inflating and writing use both cores. The first failure's text is kept and stops both.
class Stager {
public:
  Stager(const std::string& archive, const std::string& base, const std::string& staging,
         const std::vector<const Member*>& files)
      : archive_(archive), base_(base), staging_(staging), files_(files) {}

  bool run(CArchiveReader& reader) {
    std::thread helper;
    if (files_.size() > 1 && std::thread::hardware_concurrency() > 1) helper = std::thread([this] {
      CArchiveReader own;
      own.close();
      if (own.open(archive_)) {
        work(own);
      } else {
        fail(own.getLastErrorText().empty() ? std::string("Could not determine archive type !")
                                            : own.getLastErrorText());
      }
    });
    work(reader);
    if (helper.joinable()) helper.join();
    return failure_.empty();
  }

  const std::string& failureText() const { return failure_; }
  std::string stagedPath(int index) const { return staging_ + "\\" + std::to_string(index); }

private:
  void work(CArchiveReader& reader) {
    for (;;) {
      size_t at = next_.fetch_add(1);
      if (at >= files_.size() || stop_.load()) return;
      const Member& m = *files_[at];
      std::string path = stagedPath(m.index);
      platform::OutFile out;
      // A failure names the member's place, which is what the user knows.
      std::string shown = kTextWriteFailed + joined(base_, m.parts, m.parts.size()) + " !";
      if (!out.createNew(path)) return fail(shown);
      int read =
          reader.readFile(m.index, [&out](const unsigned char* data, size_t size) { return out.write(data, size); });
      bool closed = out.close();
      if (read == 0) return fail(reader.getLastErrorText());
      if (read != 1 || !closed || (m.executable && !platform::markExecutable(path)))
        return fail(shown);
    }
  }
  void fail(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = text;
    stop_.store(true);
  }

  std::string archive_, base_, staging_;
  const std::vector<const Member*>& files_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string failure_;
};

// Moves the staged files into place under the destination and makes the member folders. Folders
// are made one name at a time from the destination down, along the member's normalised path
// only, so nothing is ever created outside the destination; a link met on the way (or at a
// file's own name) is never followed, and the member is refused. Each file takes its place in
// one rename, so a program running from the old file, or a library mapped from it, goes on with
// the old one, and nobody ever sees half a file.
class MemberPlacer {
public:
  MemberPlacer(const std::string& folder, Backup& backup) : folder_(folder), backup_(backup) {}

  enum Result { kWritten, kRefused, kFailed };

  // Makes the folders parts[0 .. count-1] below the destination.
  Result makeFolders(const std::vector<std::string>& parts, size_t count) {
    std::string path = folder_;
    for (size_t i = 0; i < count; ++i) {
      path += "\\" + parts[i];
      if (i + 1 <= verifiedDepth_ && verified_[i] == parts[i]) continue; // made or checked just before
      switch (platform::pathKind(path)) {
      case platform::PathKind::kFolder: break;
      case platform::PathKind::kLink: return kRefused;
      case platform::PathKind::kMissing:
        if (platform::makeFolder(path)) break;
        return fail(kTextFolderFailed + path + " !");
      default: return fail(kTextFolderFailed + path + " !");
      }
      verified_.resize(i + 1);
      verified_[i] = parts[i];
      verifiedDepth_ = i + 1;
    }
    return kWritten;
  }

  Result placeFile(const std::string& staged, const std::vector<std::string>& parts) {
    Result r = makeFolders(parts, parts.size() - 1);
    if (r != kWritten) return r;
    std::string destination = joined(folder_, parts, parts.size());
    platform::PathKind existing = platform::pathKind(destination);
    if (existing == platform::PathKind::kLink) return kRefused;
    if (existing != platform::PathKind::kMissing && existing != platform::PathKind::kFile)
      return fail(kTextWriteFailed + destination + " !");
    if (!backup_.keep(parts, existing == platform::PathKind::kFile)) return fail(kTextWriteFailed + destination + " !");
    if (platform::replaceFile(staged, destination)) return kWritten;
    return fail(kTextWriteFailed + destination + " !");
  }

  const std::string& failureText() const { return failure_; }

private:
  Result fail(const std::string& text) {
    failure_ = text;
    return kFailed;
  }

  std::string folder_;
  Backup& backup_;
  std::vector<std::string> verified_;
  size_t verifiedDepth_ = 0;
  std::string failure_;
};

std::string hex(const uint8_t* bytes, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

// A package file's identity: its size and the SHA-256 of its bytes, as text; empty when it cannot
// be read whole.
std::string packageIdentity(const std::string& path) {
  std::FILE* file = std::fopen(platform::nativePath(path).c_str(), "rb");
  if (!file) return "";
  platform::Sha256 hash;
  std::vector<char> buf(256 * 1024);
  uint64_t size = 0;
  size_t got;
  while ((got = std::fread(buf.data(), 1, buf.size(), file)) > 0) {
    hash.update(buf.data(), got);
    size += got;
  }
  bool whole = !std::ferror(file);
  std::fclose(file);
  uint8_t digest[32];
  if (!whole || !hash.finish(digest)) return "";
  return std::to_string(size) + " " + hex(digest, sizeof digest);
}

std::string withoutTrailingSeparators(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/'))
    folder.pop_back();
  return folder;
}

} // namespace

CSetup setup;

CSetup::CSetup()
    : CSetup(platform::systemRegistry(), platform::systemProcessLauncher(),
             [](const std::string& text) { platform::showMessageBox(text, "formwell"); }) {}

CSetup::CSetup(platform::Registry& registry, platform::ProcessLauncher& launcher, MessageBoxFn messageBox)
    : registry_(registry), launcher_(launcher), messageBox_(std::move(messageBox)) {}

std::string CSetup::commonFilesDir() { return readValue(registry_, kCurrentVersionKey, "CommonFilesDir"); }

std::string CSetup::machineProgramFolder() {
  std::string common = commonFilesDir();
  if (common.empty()) return fallbackProgramFolder();
  return common + "\\Formwell" + "\\";
}

// Whether this process may keep the kit in the machine's folder: it can make a file there (the
// folder is made for the question, and removed again when it was not there) and open the
// version's key for writing. A standard user on Windows can do neither.
bool CSetup::machineFolderWritable(const std::string& folder) {
  std::string base = withoutTrailingSeparators(folder);
  bool existed = platform::pathKind(base) == platform::PathKind::kFolder;
  bool writable = false;
  if (existed || platform::makeSurePathExists(folder)) {
    platform::AtomicFile probe; // a private temporary beside the lock file's name, dropped at once
    writable = probe.open(base + "\\" + kLockName);
    probe.discard();
    if (!existed) platform::removeFolder(base);
  }
  if (!writable) return false;
  platform::RegKey key(registry_);
  return key.openOrCreate(platform::RegRoot::LocalMachine, kFormwellKey, kFormwellKeyAccess);
}

void CSetup::decideProgramFolder() {
  std::lock_guard<std::mutex> lock(decision_);
  if (decided_) return;
  folder_ = machineProgramFolder();
  root_ = platform::RegRoot::LocalMachine;
  if (!machineFolderWritable(folder_)) {
    std::string own = platform::localAppDataFolder();
    if (!own.empty()) {
      folder_ = own + "\\Formwell\\";
      root_ = platform::RegRoot::CurrentUser;
    }
  }
  decided_ = true;
}

std::string CSetup::programFolder() {
  decideProgramFolder();
  return folder_;
}

platform::RegRoot CSetup::versionRoot() {
  decideProgramFolder();
  return root_;
}

int CSetup::programFolderExists() {
  // The folder that programFolder names, as it writes it (Linux compares names with their case).
  return platform::pathExists(withoutTrailingSeparators(programFolder())) ? 1 : 0;
}

std::string CSetup::readInstalledVersion() {
  return readValue(registry_, kFormwellKey, "currentversion", versionRoot());
}

int CSetup::writeInstalledVersion(const std::string& version) {
  platform::RegKey k(registry_);
  // Only a version that reached the registry counts: the caller tells the user otherwise.
  if (!k.openOrCreate(versionRoot(), kFormwellKey, kFormwellKeyAccess)) return 0;
  if (!k.setString("currentversion", version.data(), static_cast<uint32_t>(version.size()))) return 0;
  return readInstalledVersion() == version ? 1 : 0;
}

std::string CSetup::modulePath() {
  std::string path = platform::modulePath();
  return path.empty() ? "Error" : path;
}

// Written through the atomic floor (a private temporary beside the file, synced, renamed into
// place), so that a cut write (a full disk) never leaves a cut archive under the name: the old file
// stays, or there is none.
int CSetup::writeResourceToFile(const std::string& path, int id, const std::string& type) {
  const void* data = nullptr;
  size_t size = 0;
  if (!platform::findResource(id, type, &data, &size)) {
    data = "";
    size = 0;
  }
  return platform::replaceFileContents(path, data, size) ? 1 : 0;
}

// Only a ZIP archive is a package: a file that does not open as one (a cut download, a cut write
// of the carried package, an error page) fails without a message, as an archive that does not
// open at all does. From there, any failure shows its text and returns 0: an entry that cannot be
// read, a count that cannot be had, a file or folder that cannot be written, a member that is
// refused (a name that leaves the folder or is the installation's own, a link on its way, a link
// or device entry). Whatever failed, the folder's files are as they were before.
//
// The files are first unpacked into the staging folder and only then moved into place, so the
// files of the program folder are touched only once every member has been read and checked.
int CSetup::extractArchive(const std::string& archive, const std::string& folder) {
  std::string text;
  int result = extractArchive(archive, folder, &text);
  if (!result && !text.empty()) messageBox_(text);
  return result;
}

int CSetup::extractArchive(const std::string& archive, const std::string& folder, std::string* failure) {
  std::string base = withoutTrailingSeparators(folder);
  Backup backup(base);
  // Without a mark, a backup is what a finished installation could not remove.
  if (platform::pathKind(base + "\\" + kMarkName) == platform::PathKind::kMissing) backup.clear();
  int result = placePackage(archive, folder, failure);
  if (result) backup.clear();
  return result;
}

// Unpacks and places every member, keeping what it replaces in the backup; on any failure puts
// the old files back. On success the backup stays for the caller, who drops it once the version
// is recorded.
int CSetup::placePackage(const std::string& archive, const std::string& folder, std::string* failure) {
  failure->clear();
  CArchiveReader reader;
  reader.close();
  if (!reader.open(archive)) return 0;
  if (reader.kind() != CArchiveReader::kZip) return 0;
  int count = reader.getFileCount();
  if (count < 0) {
    *failure = reader.getLastErrorText();
    return 0;
  }
  std::string base = withoutTrailingSeparators(folder);
  std::vector<Member> members;
  for (int i = 0; i < count; ++i) {
    CArchiveReader::EntryInfo info;
    if (!reader.getFileInfo(i, &info)) {
      *failure = reader.getLastErrorText();
      return 0;
    }
    Member m;
    m.index = i;
    const std::string& name = info.name;
    // A member whose name holds a dot is a file, one without a dot a folder (so a member file
    // without an extension becomes a folder). Only the member's own name is looked at: judged
    // on the whole path, every member under a folder such as "~/.local/share" or "v1.0" would
    // be taken for a file, its folders could not be made, and only the top level would be
    // written while the extraction reported success. A name ending in "/" is a folder.
    m.folder = name.empty() || name.back() == '/' || name.back() == '\\' || name.find('.') == std::string::npos;
    // A member that cannot be placed as the package names it makes the package one that cannot
    // be installed whole: nothing of it is placed.
    if (!memberPath(name, &m.parts) || info.type == CArchiveReader::kOtherType || reservedName(m.parts, m.folder)) {
      *failure = kTextWriteFailed + base + "\\" + shownName(name) + " !";
      return 0;
    }
    if (!m.folder && m.parts.empty()) continue; // "." and the like: no file to write
    m.executable = info.executable;
    members.push_back(std::move(m));
  }

  if (!platform::makeSurePathExists(base + "\\")) {
    *failure = kTextFolderFailed + base + " !";
    return 0;
  }
  std::string staging = base + "\\" + kStagingName;
  if (!removeTree(staging) || !platform::makeFolder(staging)) {
    *failure = kTextFolderFailed + staging + " !";
    return 0;
  }
  std::vector<const Member*> files;
  for (const Member& m : members)
    if (!m.folder) files.push_back(&m);
  Stager stager(archive, base, staging, files);
  bool ok = stager.run(reader);
  reader.close();
  if (!ok) *failure = stager.failureText();

  Backup backup(base);
  MemberPlacer placer(base, backup);
  for (size_t i = 0; ok && i < members.size(); ++i) {
    const Member& m = members[i];
    MemberPlacer::Result result = m.folder ? placer.makeFolders(m.parts, m.parts.size())
                                           : placer.placeFile(stager.stagedPath(m.index), m.parts);
    if (result == MemberPlacer::kFailed) *failure = placer.failureText();
    if (result == MemberPlacer::kRefused) *failure = kTextWriteFailed + joined(base, m.parts, m.parts.size()) + " !";
    if (result != MemberPlacer::kWritten) ok = false;
  }
  removeTree(staging); // what is left: all of the files after a failure
  if (!ok) backup.restore();
  return ok ? 1 : 0;
}

bool CSetup::lockFolder(const std::string& folder) {
  if (lock_.locked()) return true;
  std::string base = withoutTrailingSeparators(folder);
  return platform::makeSurePathExists(base + "\\") && lock_.lock(base + "\\" + kLockName, kLockWaitMs);
}

// The mark holds the version being installed and the identity of the package it comes from, so
// that the next start can tell whether tm.zip is that package (finish the installation) or not
// (the package never took tm.zip's place, and nothing in the folder was touched). The folder's
// lock is taken here and let go when the installation has ended.
int CSetup::beginInstall(const std::string& folder, const std::string& version, const std::string& package) {
  std::string base = withoutTrailingSeparators(folder);
  if (!lockFolder(folder)) return 0;
  // The package is on the disk before the mark that names it (its hash) is.
  std::string identity = platform::flushFileSystem(base) ? packageIdentity(package) : "";
  if (identity.empty() || version.find_first_of("\r\n") != std::string::npos) {
    lock_.unlock();
    return 0;
  }
  Backup(base).clear(); // no installation is under way: what is there is left over
  std::string mark = std::string(kMarkHeader) + "\n" + version + "\n" + identity + "\n";
  if (!platform::replaceFileContents(base + "\\" + kMarkName, mark.data(), mark.size())) {
    lock_.unlock();
    return 0;
  }
  return 1;
}

void CSetup::abandonInstall(const std::string& folder) {
  platform::removeFile(withoutTrailingSeparators(folder) + "\\" + kMarkName);
  lock_.unlock();
}

// The order that makes an installation all or nothing: the mark is on the disk before the first
// file moves; the version is recorded only once every file is in place; the mark goes only once
// the files and the version are on the disk. Whatever ends the process in between, the mark is
// still there, and the next start unpacks the same package again before anything else. An
// installation that fails instead gives the old files back, drops its mark and says why once.
int CSetup::completeInstall(const std::string& archive, const std::string& folder, const std::string& version) {
  std::string base = withoutTrailingSeparators(folder);
  Backup backup(base);
  std::string failure, before = readInstalledVersion();
  bool ok = placePackage(archive, folder, &failure) == 1;
  if (ok && !writeInstalledVersion(version)) {
    failure = kTextVersionFailed;
    ok = false;
  }
  if (ok) {
    platform::RegKey key(registry_);
    ok = key.openOrCreate(versionRoot(), kFormwellKey, kFormwellKeyAccess) && key.flush() &&
         platform::flushFileSystem(base);
    if (!ok) {
      failure = kTextVersionFailed;
      writeInstalledVersion(before); // the old files come back: so does their version
    }
  }
  if (!ok) {
    backup.restore();
    platform::flushFileSystem(base);
  }
  abandonInstall(folder);
  if (ok) backup.clear();
  if (!failure.empty()) messageBox_(failure);
  return ok ? 1 : 0;
}

int CSetup::installPackage(const std::string& archive, const std::string& folder) {
  if (!beginInstall(folder, kPackageVersion, archive)) return 0;
  return completeInstall(archive, folder, kPackageVersion);
}

int CSetup::installCarriedPackage() {
  std::string folder = programFolder();
  std::string archive = folder + "tm.zip";
  if (!lockFolder(folder)) {
    messageBox_(kTextFolderFailed + withoutTrailingSeparators(folder) + " !");
    return 0;
  }
  if (!writeResourceToFile(archive, kPackageResourceId, kPackageResourceType)) {
    lock_.unlock();
    messageBox_(kTextWriteFailed + archive + " !");
    return 0;
  }
  return installPackage(archive, folder);
}

// 1 lets the start go on with whatever is installed now: the pending installation finished, or
// failed and gave the old files back. 0 only when a mark is there that cannot even be removed.
int CSetup::finishPendingInstall(const std::string& folder) {
  std::string base = withoutTrailingSeparators(folder);
  std::string markPath = base + "\\" + kMarkName;
  if (platform::pathKind(base) != platform::PathKind::kFolder) return 1;
  // Another formwell process installing into this folder is waited for; its mark is its own.
  if (!lockFolder(folder)) return 1;
  std::string mark;
  if (platform::pathKind(markPath) == platform::PathKind::kMissing) {
    Backup(base).clear();
    lock_.unlock();
    return 1;
  }
  platform::readFile(markPath, &mark);
  // header, version, identity: one line each.
  std::vector<std::string> lines;
  for (size_t at = 0; at < mark.size();) {
    size_t end = mark.find('\n', at);
    if (end == std::string::npos) break;
    lines.push_back(mark.substr(at, end - at));
    at = end + 1;
  }
  std::string archive = base + "\\tm.zip";
  if (lines.size() != 3 || lines[0] != kMarkHeader || lines[1].empty() || packageIdentity(archive) != lines[2]) {
    // tm.zip is not the package the mark names: the installation never got past its mark.
    Backup(base).restore();
    abandonInstall(folder);
    return platform::pathKind(markPath) == platform::PathKind::kMissing ? 1 : 0;
  }
  completeInstall(archive, folder, lines[1]); // a failure has given the old files back
  return platform::pathKind(markPath) == platform::PathKind::kMissing ? 1 : 0;
}

void CSetup::carrySavedData() {
  std::string store = platform::virtualStoreCopyOf(machineProgramFolder());
  if (store.empty()) return;
  std::string folder = programFolder();
  for (const char* name : {"json.sav", "json_ac.sav"}) {
    std::string from = store + name, to = folder + name;
    if (platform::pathKind(from) != platform::PathKind::kFile) continue;
    platform::PathKind there = platform::pathKind(to);
    if (there != platform::PathKind::kMissing &&
        (there != platform::PathKind::kFile || platform::fileModifiedTime(to) >= platform::fileModifiedTime(from)))
      continue;
    std::string data;
    if (platform::readFile(from, &data) && platform::makeSurePathExists(folder))
      platform::replaceFileContents(to, data.data(), data.size());
  }
}

void CSetup::removeLeftovers() {
  std::string self = platform::modulePath();
  size_t slash = self.find_last_of("\\/");
  if (slash != std::string::npos) {
    std::string dir = self.substr(0, slash), prefix = self.substr(slash + 1) + ".old-";
    std::vector<std::string> names;
    if (platform::listFolder(dir, &names))
      for (const std::string& name : names)
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            platform::pathKind(dir + "\\" + name) == platform::PathKind::kFile)
          platform::removeFile(dir + "\\" + name); // fails while a process still runs from it
  }
}

// Puts a copy of source in the place of the running program file at once: Windows lets a running
// program file be renamed, though not written, so the old one is moved aside ("<name>.old-N",
// removed at a later start) and the copy takes its name. Nothing waits for this process to end.
int CSetup::replaceRunningProgram(const std::string& source, const std::string& target) {
  std::string data;
  if (platform::pathKind(source) != platform::PathKind::kFile || !platform::readFile(source, &data) || data.empty())
    return 0;
  std::string copy = target + ".new";
  platform::removeFile(copy);
  platform::OutFile out;
  bool written = out.createNew(copy) && out.write(data.data(), data.size());
  written = out.close() && written;
  if (written && platform::replaceFile(copy, target)) return 1;
  platform::removeFile(copy);
  return 0;
}

int CSetup::replaceSelf() {
  std::string source = programFolder() + "loader.exe";
  std::string target = modulePath();
  if (!launcher_.replacesThroughCommandInterpreter()) {
    if (target == "Error") return 0;
    return launcher_.replaceFileAfterExit(source, target) ? 1 : 0;
  }
  if (target != "Error" && replaceRunningProgram(source, target)) return 1;
  // Where the program file cannot be renamed, a hidden command interpreter copies the loader over
  // it once this process has ended.
  std::string shortPath = launcher_.moduleShortPath();
  std::string comspec = launcher_.environmentVariable("COMSPEC");
  if (target == "Error" || shortPath.empty() || comspec.empty()) return 0;
  // Built in a string, so paths of any length fit; the command line is the same as ever.
  std::string parameters = "/c copy \"" + source + "\" \"" + target + "\"" + " /y" + " > nul";
  platform::StartedProcess started = nullptr;
  if (!launcher_.shellExecuteHidden(comspec, "Open", parameters, &started)) return 0;
  // The copy waits at idle priority while this process, at real-time priority, ends first.
  launcher_.setPriorityClass(started, platform::kIdlePriorityClass);
  launcher_.setOwnPriority(platform::kRealtimePriorityClass, platform::kThreadPriorityTimeCritical);
  launcher_.notifyShellDeleted(shortPath);
  return 1;
}
