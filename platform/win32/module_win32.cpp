#include "platform/module.h"

#include <windows.h>

namespace platform {

std::string modulePath() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, &buf[0], static_cast<DWORD>(buf.size()));
    if (n == 0) return "";
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
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
