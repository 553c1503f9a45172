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
std::string readText(platform::RegKey& key, const char* name) {
  char buf[256];
  buf[0] = 0;
  uint32_t got = 0;
  if (!key.isOpen() || !key.query(name, buf, sizeof buf, &got)) return std::string();
  return std::string(buf, strnlen(buf, got < sizeof buf ? got : sizeof buf));
}

} // namespace

ProxySettings loadProxySettings(platform::Registry& registry) {
  ProxySettings s;
  platform::RegKey key(registry);
  key.openRead(platform::RegRoot::LocalMachine, kSettingsKey);
  s.host = readText(key, "PROXY_HOST");
  s.type = readText(key, "PROXY_TYPE");
  s.port = readText(key, "PROXY_PORT");
  s.user = readText(key, "PROXY_USER");
  s.password = readText(key, "PROXY_PWD");
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
