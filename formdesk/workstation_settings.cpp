#include "workstation_settings.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/file_info.h"
#include "platform/files.h"

#ifdef _WIN32
const char16_t kPathSeparator = u'\\';
#else
const char16_t kPathSeparator = u'/';
#endif

namespace {

// Where the program folder is when the registry does not name the Common Files folder.
#ifdef _WIN32
const char16_t kFallbackStartUrlBase[] = u"file://C:/Program Files/Common Files/Formwell/";
const char16_t kFallbackProgramFolder[] = u"C:\\Program Files\\Common Files\\Formwell\\";
#else
const char16_t kFallbackStartUrlBase[] = u"file:///usr/local/share/Formwell/";
const char16_t kFallbackProgramFolder[] = u"/usr/local/share/Formwell/";
#endif

} // namespace

WorkstationSettings makeWorkstationSettings(const std::u16string& commandLine, const std::u16string& currentVersion,
                                            const std::u16string& commonFilesDir) {
  WorkstationSettings s;
  s.accountOpening = commandLine.find(u"-AC") != std::u16string::npos;
  s.version = currentVersion;
  s.title = s.accountOpening ? u"自助开户软件" : u"Velor服务平台自助申请软件";
  if (!currentVersion.empty()) s.title += u" (版本 V" + currentVersion + u")";
  s.saveFileName = s.accountOpening ? u"json_ac.sav" : u"json.sav";
  s.packageName = s.accountOpening ? u"eb_ac" : u"eb_df";
  const std::u16string sep(1, kPathSeparator);
  if (!commonFilesDir.empty()) {
    s.programFolder = commonFilesDir + sep + u"Formwell" + sep;
    s.startUrl = u"file://" + s.programFolder + s.packageName + sep + u"index.html";
  } else {
    s.programFolder = kFallbackProgramFolder;
    s.startUrl = std::u16string(kFallbackStartUrlBase) + s.packageName + u"/index.html";
  }
  s.packageFolder = s.programFolder + s.packageName + sep;
  return s;
}

std::u16string readRegistryText(platform::Registry& registry, platform::RegRoot root, const std::string& key,
                                const std::string& value) {
  platform::RegKey k(registry);
  if (!k.openRead(root, key)) return u"";
  char buf[256];
  uint32_t got = 0, type = 0;
  if (!k.query(value, buf, sizeof buf - 1, &got, &type) || type != platform::kRegSz) return u"";
  std::string text(buf, got);
  text = text.substr(0, std::strlen(text.c_str())); // up to the terminator, when the data holds one
  return platform::ansiToWide(text);
}

WorkstationSettings loadWorkstationSettings(platform::Registry& registry, const std::u16string& commandLine,
                                            const std::string& ownFolder) {
  std::u16string commonFiles = readRegistryText(registry, platform::RegRoot::LocalMachine,
                                                "software\\microsoft\\windows\\currentversion", "CommonFilesDir");
  const char* package = commandLine.find(u"-AC") != std::u16string::npos ? "eb_ac" : "eb_df";
  bool installedBeside =
      !ownFolder.empty() && platform::pathKind(ownFolder + package) == platform::PathKind::kFolder;
  platform::RegRoot root = platform::RegRoot::LocalMachine;
  if (installedBeside &&
      (commonFiles.empty() || !platform::sameFile(ownFolder, platform::wideToAnsi(commonFiles) + "\\Formwell")))
    root = platform::RegRoot::CurrentUser;
  std::u16string version = readRegistryText(registry, root, "software\\orvanta\\formwell", "currentversion");
  WorkstationSettings s = makeWorkstationSettings(commandLine, version, commonFiles);
  if (installedBeside) {
    s.programFolder = platform::ansiToWide(ownFolder);
    s.startUrl = u"file://" + s.programFolder + s.packageName + kPathSeparator + u"index.html";
    s.packageFolder = s.programFolder + s.packageName + kPathSeparator;
  }
  return s;
}
