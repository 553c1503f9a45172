#include "platform/library.h"

#include <windows.h>

#include "platform/module.h"

namespace platform {

std::string Library::fileName(const std::string& plainName) { return plainName + ".dll"; }

bool Library::load(const std::string& plainName) {
  free();
  // Beside the program first, then the current folder, by full path: the system's search
  // order would look in the system folders before the current one.
  std::string file = fileName(plainName);
  std::string candidates[] = {moduleFolder() + file, ".\\" + file};
  for (const std::string& c : candidates) {
    handle_ = LoadLibraryA(c.c_str());
    if (handle_) return true;
  }
  return false;
}

void* Library::symbol(const char* exportedName) const {
  return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), exportedName)) : nullptr;
}

void Library::free() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

} // namespace platform
