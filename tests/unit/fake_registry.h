// An in-memory registry for unit tests. Keys and value names are compared without regard to
// case, as the real one does; a key exists while any value lies under it or after createKey.
#pragma once

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/registry.h"

namespace testutil {

class FakeRegistry : public platform::Registry {
public:
  void set(const std::string& key, const std::string& name, const std::string& data,
           platform::RegRoot root = platform::RegRoot::LocalMachine) {
    values_[path(root, key) + "\\" + lower(name)] = data;
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

  std::string lastOpened;         // the key of the last openKey or createKey, as given
  uint32_t createdWithAccess = 0; // the access of the last createKey

  bool openKey(platform::RegRoot root, const std::string& subKey, uint32_t, platform::RegHandle* out) override {
    lastOpened = subKey;
    std::string p = path(root, subKey);
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
    created_.insert(path(root, subKey));
    *out = new std::string(path(root, subKey));
    return true;
  }
  bool queryValue(platform::RegHandle key, const std::string& name, uint32_t* type, void* buf,
                  uint32_t* size) override {
    auto it = values_.find(*static_cast<std::string*>(key) + "\\" + lower(name));
    if (it == values_.end() || it->second.size() > *size) return false;
    if (!it->second.empty()) std::memcpy(buf, it->second.data(), it->second.size());
    *size = static_cast<uint32_t>(it->second.size());
    *type = platform::kRegSz;
    return true;
  }
  bool setValue(platform::RegHandle key, const std::string& name, uint32_t, const void* data, uint32_t size) override {
    values_[*static_cast<std::string*>(key) + "\\" + lower(name)] = std::string(static_cast<const char*>(data), size);
    return true;
  }
  void closeKey(platform::RegHandle key) override { delete static_cast<std::string*>(key); }

private:
  static std::string lower(std::string s) {
    for (char& c : s)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  static std::string path(platform::RegRoot root, const std::string& key) {
    return (root == platform::RegRoot::LocalMachine ? "hklm\\" : "hkcu\\") + lower(key);
  }

  std::map<std::string, std::string> values_;
  std::set<std::string> created_;
};

} // namespace testutil
