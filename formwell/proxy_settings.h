// The proxy that every request of the HTTP client follows, read once at start-up from the
// registry values PROXY_TYPE, PROXY_HOST, PROXY_PORT, PROXY_USER and PROXY_PWD under
// software\orvanta\formwell: each from the first of HKEY_LOCAL_MACHINE's 32-bit view, its
// 64-bit view and HKEY_CURRENT_USER that holds it. applyProxySettings runs on the main thread
// before any worker starts; afterwards the four process-wide values are only read.
#pragma once

#include <string>

#include "platform/registry.h"

namespace formwell {

struct ProxySettings {
  std::string type;
  std::string host;
  std::string port;
  std::string user;
  std::string password;
};

// 1 no proxy, 2 the system's settings, 3 the proxy in proxyAddress; 0 before the first
// applyProxySettings, which the client treats like 2.
extern int proxyMode;
// The texts are never destroyed, so that a transfer still running while the process exits
// never reads freed memory.
// "http://" + host + ":" + port, built in every mode.
extern std::string& proxyAddress;
extern std::string& proxyUser;
extern std::string& proxyPassword;

// Never fails: a missing key or an unreadable value gives an empty field.
ProxySettings loadProxySettings(platform::Registry& registry = platform::systemRegistry());
void applyProxySettings(platform::Registry& registry = platform::systemRegistry());

} // namespace formwell
