// What the form workstation decides at start-up from its command line and the registry: the mode,
// the window title, the saved-data file's name, the start page and the folders. Plain values, so
// the rules are tested without a window.
#pragma once

#include <string>

#include "platform/module.h"
#include "platform/registry.h"

struct WorkstationSettings {
  bool accountOpening = false;  // the command line holds "-AC"
  std::u16string title;         // the window caption, with the installed version
  std::u16string saveFileName;  // "json_ac.sav" or "json.sav"
  std::u16string packageName;   // "eb_ac" or "eb_df"
  std::u16string startUrl;      // the form page, a file:// address
  std::u16string programFolder; // ends in a separator
  std::u16string packageFolder; // program folder + package name + separator
  std::u16string version;       // the installed version, empty when unknown
};

// The folder separator of this platform's paths ("\" on Windows, "/" on Linux).
extern const char16_t kPathSeparator;

WorkstationSettings makeWorkstationSettings(const std::u16string& commandLine, const std::u16string& currentVersion,
                                            const std::u16string& commonFilesDir);

// A REG_SZ value read the way the workstation reads its values: into 256 bytes, empty when the
// key or value is missing, not text, or longer.
std::u16string readRegistryText(platform::Registry& registry, platform::RegRoot root, const std::string& key,
                                const std::string& value);

// Reads currentversion and CommonFilesDir and decides. The program folder is the folder of
// formdesk's own program file (ownFolder, ending in a separator) when the form package lies there,
// as it does wherever formwell installed it, so formdesk always agrees with the formwell that
// started it; the installed version is then read from HKEY_CURRENT_USER unless that folder is the
// machine's (CommonFilesDir's Formwell folder). Elsewhere (a program run from its build) the
// folder follows CommonFilesDir and the version HKEY_LOCAL_MACHINE.
WorkstationSettings loadWorkstationSettings(platform::Registry& registry, const std::u16string& commandLine,
                                            const std::string& ownFolder = platform::moduleFolder());
