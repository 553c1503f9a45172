#include "setup.h"

#include <cctype>
#include <cstdlib>

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

// Whether a member's destination lies inside the destination folder. The test is made on the
// final path as the system will resolve it, not on a tidied member name; names that are absolute
// ("/x", "\\host\x"), carry a drive letter or a stream (":"), or hold a NUL byte are refused
// outright, since the system would read them against another root.
bool insideFolder(const std::string& folder, const std::string& name, const std::string& destination) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return false;
  if (name.find(':') != std::string::npos || name.find('\0') != std::string::npos) return false;
  std::string base = platform::fullPath(folder + "\\");
  std::string full = platform::fullPath(destination);
  if (base.empty() || full.empty()) return false;
  return full.size() > base.size() && full.compare(0, base.size(), base) == 0;
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
  if (k.openOrCreate(platform::RegRoot::LocalMachine, kFormwellKey, kFormwellKeyAccess))
    k.setString("currentversion", version.data(), static_cast<uint32_t>(version.size()));
  return 1; // failures are ignored
}

std::string CSetup::modulePath() {
  std::string path = platform::modulePath();
  return path.empty() ? "Error" : path;
}

int CSetup::writeResourceToFile(const std::string& path, int id, const std::string& type) {
  platform::OutFile file;
  if (!file.createAlways(path)) return 0;
  const void* data = nullptr;
  size_t size = 0;
  if (platform::findResource(id, type, &data, &size)) file.write(data, size);
  file.close();
  return 1;
}

int CSetup::extractArchive(const std::string& archive, const std::string& folder) {
  CArchiveReader reader;
  reader.close();
  if (!reader.open(archive)) return 0;
  int count = reader.getFileCount();
  for (int i = 0; i < count; ++i) {
    const unsigned char* data = nullptr;
    uint32_t size = 0;
    int isFile = 0;
    std::string name;
    if (!reader.getFile(i, &data, &size, &isFile, &name)) {
      messageBox_(reader.getLastErrorText());
      return 0;
    }
    std::string destination = folder + "\\" + name;
    for (char& c : destination)
      if (c == '/') c = '\\';
    // A member that would land outside the folder is skipped like a file that cannot be created.
    if (!insideFolder(folder, name, destination)) continue;
    // A member whose name holds a dot is a file, one without a dot a folder (so a member file
    // without an extension becomes a folder). Only the member's own name is looked at: judged
    // on the whole path, every member under a folder such as "~/.local/share" or "v1.0" would
    // be taken for a file, its folders could not be made, and only the top level would be
    // written while the extraction reported success. A name ending in "/" is a folder.
    bool isFolder = name.empty() || name.back() == '/' || name.back() == '\\' || name.find('.') == std::string::npos;
    if (!isFolder) {
      platform::OutFile out;
      if (!out.createAlways(destination)) continue; // skipped without a message
      out.write(data, size);
      out.close();
      if (reader.lastEntryExecutable()) platform::markExecutable(destination);
    } else {
      platform::makeSurePathExists(destination + "\\");
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
