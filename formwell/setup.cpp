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
#include "platform/files.h"
#include "platform/folder_list.h"
#include "platform/message_box.h"
#include "platform/module.h"
#include "platform/replace_file.h"
#include "platform/resources.h"
#include "platform/signature.h"

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
std::string readValue(platform::Registry& registry, const char* key, const char* value) {
  platform::RegKey k(registry);
  if (!k.openRead(platform::RegRoot::LocalMachine, key)) return "";
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

const char kTextWriteFailed[] = "Could not write file ";
const char kTextFolderFailed[] = "Could not create folder ";

// The hidden folder inside the program folder where an extraction first writes its files (on the
// same file system, so moving a file into place is a rename), and the mark of an installation
// that has begun and not yet been recorded.
const char kStagingName[] = ".staging";
const char kMarkName[] = "install.pending";
const char kMarkHeader[] = "formwell installation";

// One member of the archive, as the extraction will write it.
struct Member {
  int index = 0;                  // in the archive
  std::vector<std::string> parts; // its path below the destination
  bool folder = false;
  bool executable = false;
};

// Names compared as Windows compares them (ASCII letters without regard to case).
bool sameName(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string joined(const std::string& base, const std::vector<std::string>& parts, size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; ++i)
    path += "\\" + parts[i];
  return path;
}

// Empties and removes the staging folder that a run left behind (killed while it unpacked); it
// holds only files, named by their member's position.
bool clearStaging(const std::string& staging) {
  platform::PathKind kind = platform::pathKind(staging);
  if (kind == platform::PathKind::kMissing) return true;
  if (kind != platform::PathKind::kFolder) return platform::removeFile(staging);
  std::vector<std::string> names;
  if (!platform::listFolder(staging, &names)) return false;
  for (const std::string& name : names)
    platform::removeFile(staging + "\\" + name);
  return platform::removeFolder(staging);
}

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
  explicit MemberPlacer(const std::string& folder) : folder_(folder) {}

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

std::string CSetup::programFolder() {
  std::string common = commonFilesDir();
  if (common.empty()) return fallbackProgramFolder();
  return common + "\\Formwell" + "\\";
}

int CSetup::programFolderExists() {
  std::string common = commonFilesDir();
  if (common.empty()) return 0;
  // The folder that programFolder names. Windows compares names without regard to case; Linux
  // does not, so the name is written exactly as programFolder writes it.
  return platform::pathExists(common + "\\Formwell") ? 1 : 0;
}

std::string CSetup::readInstalledVersion() { return readValue(registry_, kFormwellKey, "currentversion"); }

int CSetup::writeInstalledVersion(const std::string& version) {
  platform::RegKey k(registry_);
  // Only a version that reached the registry counts: the caller tells the user otherwise.
  if (!k.openOrCreate(platform::RegRoot::LocalMachine, kFormwellKey, kFormwellKeyAccess)) return 0;
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
// read, a count that cannot be had, a file or folder that cannot be written. A member refused as
// unsafe (a name that leaves the folder, a link on its way, a link or device entry) is skipped.
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
    if (!memberPath(name, &m.parts) || info.type == CArchiveReader::kOtherType) continue;
    // The installation's own names are not the package's to write: a member there could overwrite
    // a staged file of another member, or the mark.
    if (!m.parts.empty() && (sameName(m.parts[0], kStagingName) || sameName(m.parts[0], kMarkName))) continue;
    // A member whose name holds a dot is a file, one without a dot a folder (so a member file
    // without an extension becomes a folder). Only the member's own name is looked at: judged
    // on the whole path, every member under a folder such as "~/.local/share" or "v1.0" would
    // be taken for a file, its folders could not be made, and only the top level would be
    // written while the extraction reported success. A name ending in "/" is a folder.
    m.folder = name.empty() || name.back() == '/' || name.back() == '\\' || name.find('.') == std::string::npos;
    if (!m.folder && m.parts.empty()) continue; // "." and the like: no file to write
    m.executable = info.executable;
    members.push_back(std::move(m));
  }

  std::string base = withoutTrailingSeparators(folder);
  platform::makeSurePathExists(base + "\\");
  std::string staging = base + "\\" + kStagingName;
  if (!clearStaging(staging) || !platform::makeFolder(staging)) {
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

  MemberPlacer placer(base);
  for (size_t i = 0; ok && i < members.size(); ++i) {
    const Member& m = members[i];
    MemberPlacer::Result result = m.folder ? placer.makeFolders(m.parts, m.parts.size())
                                           : placer.placeFile(stager.stagedPath(m.index), m.parts);
    if (result == MemberPlacer::kFailed) {
      *failure = placer.failureText();
      ok = false;
    }
  }
  clearStaging(staging); // what is left: files of refused members, or all of them after a failure
  return ok ? 1 : 0;
}

// The mark holds the version being installed and the identity of the package it comes from, so
// that the next start can tell whether tm.zip is that package (finish the installation) or not
// (the package never took tm.zip's place, and nothing in the folder was touched).
int CSetup::beginInstall(const std::string& folder, const std::string& version, const std::string& package) {
  std::string identity = packageIdentity(package);
  if (identity.empty() || version.find('\n') != std::string::npos) return 0;
  std::string mark = std::string(kMarkHeader) + "\n" + version + "\n" + identity + "\n";
  return platform::replaceFileContents(withoutTrailingSeparators(folder) + "\\" + kMarkName, mark.data(),
                                       mark.size())
             ? 1
             : 0;
}

void CSetup::abandonInstall(const std::string& folder) {
  platform::removeFile(withoutTrailingSeparators(folder) + "\\" + kMarkName);
}

// The order that makes an installation all or nothing: the mark is on the disk before the first
// file moves; the version is recorded only once every file is in place; the mark goes only once
// the files and the version are on the disk. Whatever ends the process in between, the mark is
// still there, and the next start unpacks the same package again before anything else.
int CSetup::completeInstall(const std::string& archive, const std::string& folder, const std::string& version) {
  if (!extractArchive(archive, folder)) return 0;
  if (!writeInstalledVersion(version)) return 0;
  std::string base = withoutTrailingSeparators(folder);
  if (!platform::flushFileSystem(base)) return 0;
  abandonInstall(folder);
  return 1;
}

int CSetup::installPackage(const std::string& archive, const std::string& folder) {
  if (!beginInstall(folder, kPackageVersion, archive)) return 0;
  return completeInstall(archive, folder, kPackageVersion);
}

int CSetup::finishPendingInstall(const std::string& folder) {
  std::string base = withoutTrailingSeparators(folder);
  std::string mark;
  if (platform::pathKind(base + "\\" + kMarkName) == platform::PathKind::kMissing) return 1;
  if (!platform::readFile(base + "\\" + kMarkName, &mark)) return 0;
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
    abandonInstall(folder);
    return 1;
  }
  return completeInstall(archive, folder, lines[1]);
}

int CSetup::replaceSelf() {
  std::string source = programFolder() + "loader.exe";
  std::string target = modulePath();
  if (!launcher_.replacesThroughCommandInterpreter()) {
    if (target == "Error") return 0;
    return launcher_.replaceFileAfterExit(source, target) ? 1 : 0;
  }
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
