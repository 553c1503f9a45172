// RegKey: the RAII wrapper over a Registry, the same for every backend.
#include "platform/registry.h"

namespace platform {

bool RegKey::open(RegRoot root, const std::string& subKey, uint32_t access, bool create) {
  close();
  RegHandle h = nullptr;
  bool ok = create ? registry_.createKey(root, subKey, access, &h) : registry_.openKey(root, subKey, access, &h);
  if (ok) handle_ = h;
  return ok;
}

bool RegKey::query(const std::string& name, void* buf, uint32_t size, uint32_t* got, uint32_t* type) {
  if (!handle_) return false;
  uint32_t t = 0;
  uint32_t n = size;
  if (!registry_.queryValue(handle_, name, &t, buf, &n)) return false;
  if (got) *got = n;
  if (type) *type = t;
  return true;
}

bool RegKey::hasValue(const std::string& name) {
  uint32_t t = 0;
  uint32_t n = 0;
  return handle_ && registry_.queryValue(handle_, name, &t, nullptr, &n);
}

bool RegKey::setString(const std::string& name, const char* bytes, uint32_t length) {
  return handle_ && registry_.setValue(handle_, name, kRegSz, bytes, length);
}

bool RegKey::setWideString(const std::string& name, const std::u16string& text) {
  return handle_ && registry_.setWideString(handle_, name, text);
}

bool RegKey::setDword(const std::string& name, uint32_t value) {
  unsigned char le[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                         static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  return handle_ && registry_.setValue(handle_, name, kRegDword, le, 4);
}

bool RegKey::flush() { return handle_ && registry_.flushKey(handle_); }

void RegKey::close() {
  if (handle_) registry_.closeKey(handle_);
  handle_ = nullptr;
}

} // namespace platform
