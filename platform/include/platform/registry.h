// The registry as the kit uses it: two root keys, keys opened for reading or opened-or-created,
// values read into a caller's buffer, REG_SZ values written from bytes in the ANSI code page or
// from UTF-16 text, given without a terminator either way.
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
// Added to an access mask: which view of HKEY_LOCAL_MACHINE\Software a 32-bit program sees on
// 64-bit Windows. Without either, it sees the 32-bit view (WOW6432Node). 32-bit Windows and the
// Linux hives have one view only and ignore them.
constexpr uint32_t kKeyWow64_64Key = 0x0100;
constexpr uint32_t kKeyWow64_32Key = 0x0200;

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
  // buf is left as it was. With buf null only the type and the byte count are asked for: true
  // whenever the value exists.
  virtual bool queryValue(RegHandle key, const std::string& name, uint32_t* type, void* buf, uint32_t* size) = 0;
  virtual bool setValue(RegHandle key, const std::string& name, uint32_t type, const void* data, uint32_t size) = 0;
  // Sets a REG_SZ value to this UTF-16 text, whatever the ANSI code page: on Windows its UTF-16LE
  // bytes, given as 2 per character without a terminator; in a Linux hive the same text.
  virtual bool setWideString(RegHandle key, const std::string& name, const std::u16string& text) = 0;
  // Returns once what was written to the key is on the disk.
  virtual bool flushKey(RegHandle key) = 0;
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

  // access may add kKeyWow64_32Key or kKeyWow64_64Key to kKeyRead.
  bool openRead(RegRoot root, const std::string& subKey, uint32_t access = kKeyRead) {
    return open(root, subKey, access, false);
  }
  bool openOrCreate(RegRoot root, const std::string& subKey, uint32_t access) {
    return open(root, subKey, access, true);
  }
  // Reads into buf of size bytes; *got (when given) receives the byte count.
  bool query(const std::string& name, void* buf, uint32_t size, uint32_t* got = nullptr, uint32_t* type = nullptr);
  // Whether the key holds the value, however long its data.
  bool hasValue(const std::string& name);
  // Sets a REG_SZ value to exactly these bytes in the ANSI code page (no terminator is added).
  bool setString(const std::string& name, const char* bytes, uint32_t length);
  // Sets a REG_SZ value to this text (no terminator is added): characters that the ANSI code
  // page lacks stay what they are.
  bool setWideString(const std::string& name, const std::u16string& text);
  bool setDword(const std::string& name, uint32_t value);
  // Returns once the key's values are on the disk (RegFlushKey on Windows; the Linux hives are
  // synced at every change). For a value that must outlive a power cut before the next step.
  bool flush();
  bool isOpen() const { return handle_ != nullptr; }
  void close();

private:
  bool open(RegRoot root, const std::string& subKey, uint32_t access, bool create);
  Registry& registry_;
  RegHandle handle_ = nullptr;
};

} // namespace platform
