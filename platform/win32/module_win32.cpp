#include "platform/module.h"

#include <windows.h>

#include "ansi_path.h"

namespace platform {

// Asked as UTF-16, so that a program file under a folder whose name does not fit the code page
// (a user name such as "Zoë" on a Chinese system) is still named, in its short form.
std::string modulePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return "";
    if (n < buf.size()) {
      buf.resize(n);
      return detail::ansiPathOf(buf);
    }
    if (buf.size() > 32768) return "";
    buf.resize(buf.size() * 2);
  }
}

std::string moduleFolder() {
  std::string p = modulePath();
  size_t slash = p.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

} // namespace platform
