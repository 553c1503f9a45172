// Folders of the current user that the kit's installation needs when it cannot use the machine's
// program folder. Paths are byte strings in the ANSI code page without a trailing separator; on
// Windows a folder whose long name does not fit the code page (a user name such as "Zoë" on a
// Chinese system) is given in its short (8.3) form, which does. Thread-safe.
#pragma once

#include <string>

namespace platform {

// The user's own folder for program data: %LOCALAPPDATA% on Windows, ${XDG_DATA_HOME:-~/.local/share}
// on Linux. Empty when it is unknown or cannot be named in the code page.
std::string localAppDataFolder();

// Where Windows put this user's writes to folder while the kit's programs ran without an
// application manifest (file virtualisation): %LOCALAPPDATA%\VirtualStore followed by folder
// without its drive. Empty when there is no such place (Linux, a folder on a network share).
std::string virtualStoreCopyOf(const std::string& folder);

} // namespace platform
