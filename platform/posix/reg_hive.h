// One registry hive kept as a text file in the ".reg" export format: a header line
// "Windows Registry Editor Version 5.00", then "[ROOT\key\path]" sections with
// "name"="text", "name"=dword:0000002a, "name"=hex:01,02 or "name"=hex(N):... lines
// ("@" is the default value). The file is UTF-8; REG_SZ data is held in memory in the ANSI
// code page, as the callers read and write it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
namespace detail {

struct HiveValue {
  std::string name; // as first written; compared without regard to case
  uint32_t type = 0;
  std::string data; // raw bytes; REG_SZ in the ANSI code page, without terminator
};

struct HiveKey {
  std::string path; // below the root, as first written
  std::vector<HiveValue> values;
};

class Hive {
public:
  explicit Hive(std::string rootName) : root_(std::move(rootName)) {}

  // Parses a hive file's text. False (and an empty hive) when the text is damaged.
  bool parse(const std::string& text);
  std::string serialize() const;

  // Whether the key exists, either listed or as the parent of a listed key ("" is the root).
  bool hasKey(const std::string& path) const;
  HiveKey* findKey(const std::string& path);
  const HiveKey* findKey(const std::string& path) const;
  HiveKey& ensureKey(const std::string& path);
  static const HiveValue* findValue(const HiveKey& key, const std::string& name);
  static void setValue(HiveKey& key, const std::string& name, uint32_t type, const std::string& data);

  static bool equalNoCase(const std::string& a, const std::string& b);

private:
  std::string root_;
  std::vector<HiveKey> keys_;
};

} // namespace detail
} // namespace platform
