#include "proxy_settings.h"

#include <cstring>

namespace formwell {

int proxyMode = 0;
std::string& proxyAddress = *new std::string;
std::string& proxyUser = *new std::string;
std::string& proxyPassword = *new std::string;

namespace {

const char kSettingsKey[] = "software\\orvanta\\formwell";

// One value as text: at most 256 bytes are read and the text ends at the first NUL. A value
// that does not fit, or has no terminator within the 256 bytes, still never reads past them.
// *found tells whether the key holds the value at all (a value too long to read is there).
std::string readText(platform::RegKey& key, const char* name, bool* found) {
  char buf[256];
  buf[0] = 0;
  uint32_t got = 0;
  *found = false;
  if (!key.isOpen()) return std::string();
  if (!key.query(name, buf, sizeof buf, &got)) {
    *found = key.hasValue(name);
    return std::string();
  }
  *found = true;
  return std::string(buf, strnlen(buf, got < sizeof buf ? got : sizeof buf));
}

} // namespace

ProxySettings loadProxySettings(platform::Registry& registry) {
  // Where IT may have written the values, in this order. A 32-bit formwell on 64-bit Windows sees
  // HKEY_LOCAL_MACHINE\Software through WOW6432Node unless it asks for the 64-bit view, and the
  // 64-bit regedit or "reg add" write to the 64-bit view; a user without administrator rights can
  // write only his own HKEY_CURRENT_USER. On 32-bit Windows and Linux both views are one key.
  platform::RegKey view32(registry), view64(registry), user(registry);
  view32.openRead(platform::RegRoot::LocalMachine, kSettingsKey, platform::kKeyRead | platform::kKeyWow64_32Key);
  view64.openRead(platform::RegRoot::LocalMachine, kSettingsKey, platform::kKeyRead | platform::kKeyWow64_64Key);
  user.openRead(platform::RegRoot::CurrentUser, kSettingsKey);
  // Value by value: the first key that holds a value gives it, so a missing value falls through
  // (an installed machine's 32-bit key holds currentversion and nothing else).
  auto read = [&](const char* name) {
    for (platform::RegKey* key : {&view32, &view64, &user}) {
      bool found = false;
      std::string text = readText(*key, name, &found);
      if (found) return text;
    }
    return std::string();
  };
  ProxySettings s;
  s.host = read("PROXY_HOST");
  s.type = read("PROXY_TYPE");
  s.port = read("PROXY_PORT");
  s.user = read("PROXY_USER");
  s.password = read("PROXY_PWD");
  return s;
}

void applyProxySettings(platform::Registry& registry) {
  ProxySettings s = loadProxySettings(registry);
  // Exact text only: " 3", "03" or "three" all mean the system's settings.
  if (s.type == "1")
    proxyMode = 1;
  else if (s.type == "3")
    proxyMode = 3;
  else
    proxyMode = 2;
  proxyAddress = "http://" + s.host + ":" + s.port;
  proxyUser = s.user;
  proxyPassword = s.password;
}

} // namespace formwell
