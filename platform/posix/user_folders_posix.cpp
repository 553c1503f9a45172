#include "platform/user_folders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {

// ${XDG_DATA_HOME:-~/.local/share}: the variable only when it names an absolute path (as the XDG
// rules say); the home is HOME or the password database's entry, never a guess such as /tmp.
std::string localAppDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return data;
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share";
  std::vector<char> buf(16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) != 0 || !found || !found->pw_dir ||
      found->pw_dir[0] != '/')
    return "";
  return std::string(found->pw_dir) + "/.local/share";
}

std::string virtualStoreCopyOf(const std::string&) { return ""; } // Linux never virtualises writes

} // namespace platform
