// One registry hive kept as a text file in the ".reg" export format: a header line
// "Windows Registry Editor Version 5.00", then "[ROOT\key\path]" sections with
// "name"="text", "name"=dword:0000002a, "name"=hex:01,02 or "name"=hex(N):... lines
// ("@" is the default value). The file is UTF-8, and so is every text the hive holds in memory
// (key paths, value names, REG_SZ data): the registry backend converts to and from the ANSI code
// page at its own calls, so text that a change does not touch is never carried through it.
// Names compare with the case of ASCII letters folded, and nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
namespace detail {

struct HiveValue {
  std::string name; // UTF-8, as first written
  uint32_t type = 0;
  std::string data; // REG_SZ: UTF-8 text without terminator; other types: the bytes as stored
  // The value's lines as they were read, written back unchanged as long as the value is: a value
  // that no change touches keeps its text byte for byte. Empty for a value set since.
  std::string source;
};

struct HiveKey {
  std::string path; // below the root, UTF-8, as first written
  std::vector<HiveValue> values;
};

class Hive {
public:
  explicit Hive(std::string rootName) : root_(std::move(rootName)) {}

  // Reads a hive file's bytes as regedit imports a ".reg" file: UTF-16LE with a byte order mark
  // or UTF-8, the "Windows Registry Editor Version 5.00" or "REGEDIT4" header, "[-key]" and
  // "name"=- delete lines, hex lists continued over lines ending in "\", blanks at line ends.
  // A line it cannot understand is skipped, as regedit skips it, and the rest is read. True when
  // every line was understood; false when one was skipped or the text is no hive at all (then
  // the hive is empty). Never throws, whatever the bytes.
  bool parse(const std::string& bytes);
  // The hive as a UTF-8 "Windows Registry Editor Version 5.00" text; names and texts are escaped
  // so that parse() reads back exactly what is in memory.
  std::string serialize() const;

  // Whether the key exists, either listed or as the parent of a listed key ("" is the root).
  bool hasKey(const std::string& path) const;
  HiveKey* findKey(const std::string& path);
  const HiveKey* findKey(const std::string& path) const;
  HiveKey& ensureKey(const std::string& path);
  // Removes the key and every key below it.
  void removeKey(const std::string& path);
  static const HiveValue* findValue(const HiveKey& key, const std::string& name);
  static void setValue(HiveKey& key, const std::string& name, uint32_t type, const std::string& data);
  static void removeValue(HiveKey& key, const std::string& name);

  // Whether a key path can stand in a "[...]" line: no line break and no NUL.
  static bool writableKeyPath(const std::string& path);
  // Equal but for the case of ASCII letters.
  static bool equalNoCase(const std::string& a, const std::string& b);

private:
  std::string root_;
  std::vector<HiveKey> keys_;
};

} // namespace detail
} // namespace platform
