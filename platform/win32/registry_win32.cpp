// The registry on Windows: the real one, through the ANSI calls, but for text given as UTF-16.
// Access masks go through as they are, so kKeyWow64_64Key / kKeyWow64_32Key pick the view.
#include "platform/registry.h"

#include <windows.h>

#include "platform/codepage.h"

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

  // The W call, so that text which the ANSI code page lacks (the Chinese page footer on a
  // Windows whose code page is not 936) is stored as it is. The count is 2 bytes a character, no
  // terminator; Windows itself counts the terminator that follows the text in memory, as it does
  // for every REG_SZ given without one.
  bool setWideString(RegHandle h, const std::string& name, const std::u16string& text) override {
    if (text.size() > 0x7FFFFFFFu / 2) return false;
    std::u16string wideName = ansiToWide(name);
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
    return RegSetValueExW(static_cast<HKEY>(h), reinterpret_cast<const wchar_t*>(wideName.c_str()), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() * sizeof(char16_t))) == ERROR_SUCCESS;
  }

  bool flushKey(RegHandle h) override { return RegFlushKey(static_cast<HKEY>(h)) == ERROR_SUCCESS; }

  void closeKey(RegHandle h) override { RegCloseKey(static_cast<HKEY>(h)); }
};

} // namespace

Registry& systemRegistry() {
  static Win32Registry* registry = new Win32Registry; // lives as long as the process
  return *registry;
}

} // namespace platform
