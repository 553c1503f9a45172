// Resources on Linux: the generated table linked into the program registers each resource here
// from a static object's constructor; lookups run after main has started, when all are in.
#include "platform/resources.h"

#include <strings.h>
#include <vector>

namespace platform {

namespace {

struct Entry {
  int id;
  const char* type;
  const void* begin;
  const void* end;
};

std::vector<Entry>& table() {
  static std::vector<Entry> entries; // built before main, read-only afterwards
  return entries;
}

} // namespace

ResourceRegistration::ResourceRegistration(int id, const char* type, const void* begin, const void* end) {
  table().push_back(Entry{id, type, begin, end});
}

bool findResource(int id, const std::string& type, const void** data, size_t* size) {
  for (const Entry& e : table()) {
    if (e.id == id && strcasecmp(e.type, type.c_str()) == 0) {
      *data = e.begin;
      *size = static_cast<size_t>(static_cast<const char*>(e.end) - static_cast<const char*>(e.begin));
      return true;
    }
  }
  return false;
}

} // namespace platform

namespace platform {

namespace {

struct StringEntry {
  int id;
  const char16_t* text;
};

std::vector<StringEntry>& strings() {
  static std::vector<StringEntry> entries; // built before main, read-only afterwards
  return entries;
}

} // namespace

StringRegistration::StringRegistration(int id, const char16_t* text) { strings().push_back(StringEntry{id, text}); }

std::u16string loadString(int id) {
  for (const StringEntry& e : strings())
    if (e.id == id) return e.text;
  return {};
}

} // namespace platform
