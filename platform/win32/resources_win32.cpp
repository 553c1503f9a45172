#include "platform/resources.h"

#include <windows.h>

namespace platform {

bool findResource(int id, const std::string& type, const void** data, size_t* size) {
  // FindResource compares type names without regard to case ("binary" finds "BINARY") and takes
  // the resource in whatever language the module has it when the thread's language is missing.
  HRSRC res = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type.c_str());
  if (!res) return false;
  HGLOBAL loaded = LoadResource(nullptr, res); // module data: nothing to free
  if (!loaded) return false;
  *data = LockResource(loaded);
  *size = SizeofResource(nullptr, res);
  return *data != nullptr || *size == 0;
}

// Windows keeps resources in the .rc; nothing registers itself.
ResourceRegistration::ResourceRegistration(int, const char*, const void*, const void*) {}
StringRegistration::StringRegistration(int, const char16_t*) {}

std::u16string loadString(int id) {
  // With a buffer size of 0, LoadStringW hands back a pointer into the module's own string
  // resource and its length: no buffer limit, and nothing to free.
  const wchar_t* text = nullptr;
  int n = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
  if (n <= 0 || !text) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(n));
}

} // namespace platform
