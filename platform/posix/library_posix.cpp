#include "platform/library.h"

#include <dlfcn.h>

#include "platform/module.h"

namespace platform {

std::string Library::fileName(const std::string& plainName) { return "lib" + plainName + ".so"; }

bool Library::load(const std::string& plainName) {
  free();
  std::string file = fileName(plainName);
  // Beside the program first, then the current folder; never the system's search path, so a
  // library of the same name elsewhere is not taken for ours. dlopen searches that path for a
  // name without a "/", so a program folder that cannot be had is left out, not made "".
  std::string folder = moduleFolder();
  std::string candidates[] = {folder.empty() ? std::string() : folder + file, "./" + file};
  for (const std::string& c : candidates) {
    if (c.find('/') == std::string::npos) continue;
    handle_ = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_) return true;
  }
  return false;
}

void* Library::symbol(const char* exportedName) const { return handle_ ? dlsym(handle_, exportedName) : nullptr; }

void Library::free() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

} // namespace platform
