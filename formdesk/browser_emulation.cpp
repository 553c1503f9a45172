#include "browser_emulation.h"

#include "platform/codepage.h"

namespace {

const char kEmulationKey[] = "Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION";

// The file name part of a path. Split as UTF-16: in code page 936 the second byte of a Chinese
// character may be the byte of "\".
std::string fileNameOf(const std::string& path) {
  std::u16string wide = platform::ansiToWide(path);
  size_t slash = wide.find_last_of(u"\\/");
  return platform::wideToAnsi(slash == std::u16string::npos ? wide : wide.substr(slash + 1));
}

} // namespace

bool writeBrowserEmulation(platform::Registry& registry, const std::string& modulePath) {
  std::string name = fileNameOf(modulePath);
  if (name.empty()) return false;
  platform::RegKey key(registry);
  return key.openOrCreate(platform::RegRoot::CurrentUser, kEmulationKey, platform::kKeyAllAccess) &&
         key.setDword(name, kBrowserEmulationIe11);
}
