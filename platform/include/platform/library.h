// Dynamic libraries loaded at run time. A plain name such as "gbconv" is looked for beside the
// program, then in the current folder (gbconv.dll on Windows, libgbconv.so on Linux).
#pragma once

#include <string>

namespace platform {

class Library {
public:
  Library() = default;
  ~Library() { free(); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool load(const std::string& plainName);
  // The address of an exported routine, or nullptr.
  void* symbol(const char* exportedName) const;
  bool isLoaded() const { return handle_ != nullptr; }
  void free();

  // The file name a plain name has on this platform.
  static std::string fileName(const std::string& plainName);

private:
  void* handle_ = nullptr;
};

} // namespace platform
