// The registry on Windows: the real one, through the ANSI calls.
#include "platform/registry.h"

#include <windows.h>

namespace platform {

namespace {

HKEY rootKey(RegRoot root) { return root == RegRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

class Win32Registry : public Registry {
public:
  bool openKey(RegRoot root, const std::string& subKey, uint32_t access, RegHandle* out) override {
    HKEY h = nullptr;
    if (RegOpenKeyExA(rootKey(root), subKey.c_str(), 0, access, &h) != ERROR_SUCCESS) return false;
    *out = h;
    return true;
  }

  bool createKey(RegRoot root, const std::string& subKey, uint32_t access, RegHandle* out) override {
    HKEY h = nullptr;
    DWORD disposition = 0;
    char emptyClass[] = "";
    if (RegCreateKeyExA(rootKey(root), subKey.c_str(), 0, emptyClass, REG_OPTION_NON_VOLATILE, access, nullptr, &h,
                        &disposition) != ERROR_SUCCESS)
      return false;
    *out = h;
    return true;
  }

  bool queryValue(RegHandle h, const std::string& name, uint32_t* type, void* buf, uint32_t* size) override {
    DWORD t = 0;
    DWORD n = *size;
    if (RegQueryValueExA(static_cast<HKEY>(h), name.c_str(), nullptr, &t, static_cast<BYTE*>(buf), &n) != ERROR_SUCCESS)
      return false;
    *type = t;
    *size = n;
    return true;
  }

  bool setValue(RegHandle h, const std::string& name, uint32_t type, const void* data, uint32_t size) override {
    return RegSetValueExA(static_cast<HKEY>(h), name.c_str(), 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
  }

  void closeKey(RegHandle h) override { RegCloseKey(static_cast<HKEY>(h)); }
};

} // namespace

Registry& systemRegistry() {
  static Win32Registry* registry = new Win32Registry; // lives as long as the process
  return *registry;
}

} // namespace platform
