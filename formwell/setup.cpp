#include "setup.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive_reader.h"
#include "platform/codepage.h"
#include "platform/file_info.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/module.h"
#include "platform/resources.h"

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

// Writes member files and makes member folders under one destination folder. Folders are made one
// name at a time from the destination down, along the member's normalised path only, so nothing
// is ever created outside the destination; a link met on the way (or at a file's own name) is
// never followed, and the member is refused. Each file is written to a new temporary file beside
// its destination and renamed into place, so a program running from the old file, or a library
// mapped from it, goes on with the old one, and nobody ever sees half a file.
class MemberWriter {
public:
  MemberWriter(const std::string& folder, CArchiveReader& reader) : folder_(folder), reader_(reader) {}

  enum Result { kWritten, kRefused, kFailed };

  // Makes the folders parts[0 .. count-1] below the destination.
  Result makeFolders(const std::vector<std::string>& parts, size_t count) {
    std::string path = folder_;
    for (size_t i = 0; i < count; ++i) {
      path += "\\" + parts[i];
      if (i + 1 <= verifiedDepth_ && verified_[i] == parts[i]) continue; // made or checked just before
      switch (platform::pathKind(path)) {
      case platform::PathKind::kFolder: break;
      case platform::PathKind::kLink: return refuse();
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

  Result writeFile(int index, const std::vector<std::string>& parts, bool executable) {
    Result r = makeFolders(parts, parts.size() - 1);
    if (r != kWritten) return r;
    std::string destination = folder_;
    for (const std::string& p : parts)
      destination += "\\" + p;
    platform::PathKind existing = platform::pathKind(destination);
    if (existing == platform::PathKind::kLink) return refuse();
    if (existing != platform::PathKind::kMissing && existing != platform::PathKind::kFile)
      return fail(kTextWriteFailed + destination + " !");
    std::string temporary;
    platform::OutFile out;
    for (int n = 0; n < 100 && temporary.empty(); ++n) {
      std::string candidate = destination + ".new-" + std::to_string(++counter_);
      if (out.createNew(candidate)) temporary = candidate;
    }
    if (temporary.empty()) return fail(kTextWriteFailed + destination + " !");
    int read =
        reader_.readFile(index, [&out](const unsigned char* data, size_t size) { return out.write(data, size); });
    bool closed = out.close();
    if (read == 1 && closed && (!executable || platform::markExecutable(temporary)) &&
        platform::replaceFile(temporary, destination))
      return kWritten;
    platform::removeFile(temporary);
    if (read == 0) return fail(reader_.getLastErrorText());
    return fail(kTextWriteFailed + destination + " !");
  }

  const std::string& failureText() const { return failure_; }

private:
  Result refuse() { return kRefused; }
  Result fail(const std::string& text) {
    failure_ = text;
    return kFailed;
  }

  std::string folder_;
  CArchiveReader& reader_;
  std::vector<std::string> verified_;
  size_t verifiedDepth_ = 0;
  std::string failure_;
  unsigned counter_ = 0;
};

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
  if (k.openOrCreate(platform::RegRoot::LocalMachine, kFormwellKey, kFormwellKeyAccess))
    k.setString("currentversion", version.data(), static_cast<uint32_t>(version.size()));
  return 1; // failures are ignored
}

std::string CSetup::modulePath() {
  std::string path = platform::modulePath();
  return path.empty() ? "Error" : path;
}

// The file is written beside its place and renamed into it, so that a cut write (a full disk)
// never leaves a cut archive under the name: the old file stays, or there is none.
int CSetup::writeResourceToFile(const std::string& path, int id, const std::string& type) {
  std::string temporary = path + ".new";
  platform::removeFile(temporary); // left behind by a run that was killed
  platform::OutFile file;
  if (!file.createNew(temporary)) return 0;
  const void* data = nullptr;
  size_t size = 0;
  bool ok = true;
  if (platform::findResource(id, type, &data, &size)) ok = file.write(data, size);
  ok = file.close() && ok && platform::replaceFile(temporary, path);
  if (!ok) platform::removeFile(temporary);
  return ok ? 1 : 0;
}

// Only a ZIP archive is a package: a file that does not open as one (a cut download, a cut write
// of the carried package, an error page) fails without a message, as an archive that does not
// open at all does. From there, any failure shows its text and returns 0: an entry that cannot be
// read, a count that cannot be had, a file or folder that cannot be written. A member refused as
// unsafe (a name that leaves the folder, a link on its way, a link or device entry) is skipped.
int CSetup::extractArchive(const std::string& archive, const std::string& folder) {
  CArchiveReader reader;
  reader.close();
  if (!reader.open(archive)) return 0;
  if (reader.kind() != CArchiveReader::kZip) return 0;
  int count = reader.getFileCount();
  if (count < 0) {
    messageBox_(reader.getLastErrorText());
    return 0;
  }
  std::string base = folder;
  while (base.size() > 1 && (base.back() == '\\' || base.back() == '/'))
    base.pop_back();
  platform::makeSurePathExists(base + "\\");
  MemberWriter writer(base, reader);
  std::vector<std::string> parts;
  for (int i = 0; i < count; ++i) {
    CArchiveReader::EntryInfo info;
    if (!reader.getFileInfo(i, &info)) {
      messageBox_(reader.getLastErrorText());
      return 0;
    }
    const std::string& name = info.name;
    if (!memberPath(name, &parts) || info.type == CArchiveReader::kOtherType) continue;
    // A member whose name holds a dot is a file, one without a dot a folder (so a member file
    // without an extension becomes a folder). Only the member's own name is looked at: judged
    // on the whole path, every member under a folder such as "~/.local/share" or "v1.0" would
    // be taken for a file, its folders could not be made, and only the top level would be
    // written while the extraction reported success. A name ending in "/" is a folder.
    bool isFolder = name.empty() || name.back() == '/' || name.back() == '\\' || name.find('.') == std::string::npos;
    MemberWriter::Result result;
    if (isFolder) {
      result = writer.makeFolders(parts, parts.size());
    } else if (parts.empty()) {
      continue; // "." and the like: no file to write
    } else {
      result = writer.writeFile(i, parts, info.executable);
    }
    if (result == MemberWriter::kFailed) {
      messageBox_(writer.failureText());
      return 0;
    }
  }
  reader.close();
  return 1;
}

int CSetup::installPackage(const std::string& archive, const std::string& folder) {
  if (!extractArchive(archive, folder)) return 0;
  writeInstalledVersion(kPackageVersion);
  return 1;
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
