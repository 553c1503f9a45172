// An in-memory registry for unit tests. Keys and value names are compared without regard to
// case, as the real one does; a key exists while any value lies under it or after createKey.
// HKEY_LOCAL_MACHINE has the two views of a 32-bit program on 64-bit Windows: `view`
// kKeyWow64_64Key is the 64-bit one, anything else the 32-bit one.
#pragma once

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace testutil {

class FakeRegistry : public platform::Registry {
public:
  void set(const std::string& key, const std::string& name, const std::string& data,
           platform::RegRoot root = platform::RegRoot::LocalMachine, uint32_t view = 0) {
    values_[path(root, key, view) + "\\" + lower(name)] = data;
  }
  void erase(const std::string& key, const std::string& name,
             platform::RegRoot root = platform::RegRoot::LocalMachine) {
    values_.erase(path(root, key) + "\\" + lower(name));
  }
  // The value's bytes, or "<none>".
  std::string get(const std::string& key, const std::string& name,
                  platform::RegRoot root = platform::RegRoot::LocalMachine) const {
    auto it = values_.find(path(root, key) + "\\" + lower(name));
    return it == values_.end() ? "<none>" : it->second;
  }
  // Whether the value was last set through setWideString.
  bool isWide(const std::string& key, const std::string& name, platform::RegRoot root) const {
    return wide_.count(path(root, key) + "\\" + lower(name)) > 0;
  }

  std::string lastOpened;         // the key of the last openKey or createKey, as given
  uint32_t createdWithAccess = 0; // the access of the last createKey

  bool openKey(platform::RegRoot root, const std::string& subKey, uint32_t access, platform::RegHandle* out) override {
    lastOpened = subKey;
    std::string p = path(root, subKey, access);
    if (!created_.count(p)) {
      auto it = values_.lower_bound(p + "\\");
      if (it == values_.end() || it->first.compare(0, p.size() + 1, p + "\\") != 0) return false;
    }
    *out = new std::string(p);
    return true;
  }
  bool createKey(platform::RegRoot root, const std::string& subKey, uint32_t access,
                 platform::RegHandle* out) override {
    lastOpened = subKey;
    createdWithAccess = access;
    created_.insert(path(root, subKey, access));
    *out = new std::string(path(root, subKey, access));
    return true;
  }
  bool queryValue(platform::RegHandle key, const std::string& name, uint32_t* type, void* buf,
                  uint32_t* size) override {
    auto it = values_.find(*static_cast<std::string*>(key) + "\\" + lower(name));
    if (it == values_.end() || (buf && it->second.size() > *size)) return false;
    if (buf && !it->second.empty()) std::memcpy(buf, it->second.data(), it->second.size());
    *size = static_cast<uint32_t>(it->second.size());
    *type = platform::kRegSz;
    return true;
  }
  bool setValue(platform::RegHandle key, const std::string& name, uint32_t, const void* data, uint32_t size) override {
    values_[*static_cast<std::string*>(key) + "\\" + lower(name)] = std::string(static_cast<const char*>(data), size);
    wide_.erase(*static_cast<std::string*>(key) + "\\" + lower(name));
    return true;
  }
  // Kept as the ANSI calls read it back.
  bool setWideString(platform::RegHandle key, const std::string& name, const std::u16string& text) override {
    std::string s = platform::wideToAnsi(text);
    return setValue(key, name, platform::kRegSz, s.data(), static_cast<uint32_t>(s.size())) &&
           wide_.insert(*static_cast<std::string*>(key) + "\\" + lower(name)).second;
  }
  bool flushKey(platform::RegHandle) override { return true; }
  void closeKey(platform::RegHandle key) override { delete static_cast<std::string*>(key); }

private:
  static std::string lower(std::string s) {
    for (char& c : s)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  static std::string path(platform::RegRoot root, const std::string& key, uint32_t view = 0) {
    if (root == platform::RegRoot::CurrentUser) return "hkcu\\" + lower(key);
    return ((view & platform::kKeyWow64_64Key) ? "hklm64\\" : "hklm\\") + lower(key);
  }

  std::map<std::string, std::string> values_;
  std::set<std::string> created_;
  std::set<std::string> wide_; // values set through setWideString
};

} // namespace testutil
