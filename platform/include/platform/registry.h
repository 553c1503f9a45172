// The registry as the kit uses it: two root keys, keys opened for reading or opened-or-created,
// values read into a caller's buffer and REG_SZ values written from bytes without a terminator.
// Windows talks to the real registry; Linux keeps one UTF-8 text hive per root key (see the
// README). Code that needs the registry takes a Registry& so tests can hand in a fake;
// systemRegistry() is the real one. Key and value names are byte strings in the ANSI code page,
// compared without regard to case (on Linux, the case of ASCII letters only), with "\" between
// key names; REG_SZ data is in the ANSI code page too. Any thread may call; calls share nothing
// but the hives themselves.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class RegRoot { LocalMachine, CurrentUser };

// Value types, numbered as on Windows.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

// Access masks, numbered as on Windows.
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyAllAccess = 0xF003F;

using RegHandle = void*;

class Registry {
public:
  virtual ~Registry() = default;
  // Opens an existing key; false when it does not exist or cannot be opened with that access.
  virtual bool openKey(RegRoot root, const std::string& subKey, uint32_t access, RegHandle* out) = 0;
  // Opens the key, creating it and its missing parents first.
  virtual bool createKey(RegRoot root, const std::string& subKey, uint32_t access, RegHandle* out) = 0;
  // Reads a value's data into buf (capacity *size bytes). On success *size is the data's byte
  // count and *type its type. False when the value is missing or its data does not fit; then
  // buf is left as it was.
  virtual bool queryValue(RegHandle key, const std::string& name, uint32_t* type, void* buf, uint32_t* size) = 0;
  virtual bool setValue(RegHandle key, const std::string& name, uint32_t type, const void* data, uint32_t size) = 0;
  virtual void closeKey(RegHandle key) = 0;
};

// The registry of this machine (a process-wide object; never destroyed).
Registry& systemRegistry();

// An open key that closes itself. Not copyable.
class RegKey {
public:
  explicit RegKey(Registry& registry = systemRegistry()) : registry_(registry) {}
  ~RegKey() { close(); }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  bool openRead(RegRoot root, const std::string& subKey) { return open(root, subKey, kKeyRead, false); }
  bool openOrCreate(RegRoot root, const std::string& subKey, uint32_t access) {
    return open(root, subKey, access, true);
  }
  // Reads into buf of size bytes; *got (when given) receives the byte count.
  bool query(const std::string& name, void* buf, uint32_t size, uint32_t* got = nullptr, uint32_t* type = nullptr);
  // Sets a REG_SZ value to exactly these bytes (no terminator is added).
  bool setString(const std::string& name, const char* bytes, uint32_t length);
  bool setDword(const std::string& name, uint32_t value);
  bool isOpen() const { return handle_ != nullptr; }
  bool flush() { return handle_ != nullptr; } // placeholder until the backends flush
  void close();

private:
  bool open(RegRoot root, const std::string& subKey, uint32_t access, bool create);
  Registry& registry_;
  RegHandle handle_ = nullptr;
};

} // namespace platform
