// An Internet layer that answers from a script and remembers every call, for the client's
// unit tests.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/internet.h"

namespace testutil {

class FakeInternet : public platform::Internet {
public:
  // What the next calls answer.
  bool openFails = false;
  bool connectFails = false;
  uint32_t attemptResult = 0;
  bool requestFails = false;
  bool headersFail = false;
  std::vector<bool> sendResults{true};                  // one per send, the last one repeats
  uint32_t sendFailure = platform::kInetErrorInvalidCa; // why a failed send failed
  uint32_t status = 200;
  std::string body;
  size_t piece = 1 << 30; // the most one read hands out
  bool readFails = false;
  long long declaredLength = -1;        // the Content-Length the response declares; -1 none
  size_t failAfter = std::string::npos; // reads fail once this many body bytes were handed out

  // What the calls were given.
  struct Open {
    std::string agent;
    platform::InetAccess access;
    std::string proxyName;
    bool hasProxyName;
  };
  struct Connect {
    std::string host;
    uint16_t port;
    std::string user, password;
    bool hasUser, hasPassword;
    platform::InetService service;
    uint32_t flags;
  };
  struct Request {
    std::string verb, path, version;
    bool hasReferrer;
    std::vector<std::string> acceptTypes;
    uint32_t flags;
  };
  struct Option {
    uint32_t option;
    std::string text;
    uint32_t length;
  };
  std::vector<Open> opens;
  std::vector<Connect> connects;
  std::vector<Request> requests;
  std::vector<std::pair<std::string, uint32_t>> headers;
  std::vector<Option> options;
  std::vector<uint32_t> securityFlagsAtSend;
  int sends = 0;
  int closes = 0;
  int aborts = 0;
  int transferAborts = 0;
  uint32_t securityFlags = 0x1;

  platform::InetHandle open(const std::string& agent, platform::InetAccess access, const char* proxyName) override {
    opens.push_back({agent, access, proxyName ? proxyName : "", proxyName != nullptr});
    return openFails ? nullptr : handle(1);
  }
  platform::InetHandle connect(platform::InetHandle, const std::string& host, uint16_t port, const char* user,
                               const char* password, platform::InetService service, uint32_t flags) override {
    connects.push_back(
        {host, port, user ? user : "", password ? password : "", user != nullptr, password != nullptr, service, flags});
    return connectFails ? nullptr : handle(2);
  }
  uint32_t attemptConnect() override { return attemptResult; }
  platform::InetHandle openRequest(platform::InetHandle, const std::string& verb, const std::string& path,
                                   const std::string& version, const char* referrer, const char* const* acceptTypes,
                                   uint32_t flags) override {
    Request r{verb, path, version, referrer != nullptr, {}, flags};
    for (const char* const* t = acceptTypes; t && *t; ++t)
      r.acceptTypes.push_back(*t);
    requests.push_back(r);
    position = 0;
    return requestFails ? nullptr : handle(3);
  }
  bool addHeaders(platform::InetHandle, const std::string& h, uint32_t modifiers) override {
    headers.emplace_back(h, modifiers);
    return !headersFail;
  }
  bool setOption(platform::InetHandle, uint32_t option, const void* buffer, uint32_t length) override {
    if (option == platform::kInetOptionSecurityFlags) {
      std::memcpy(&securityFlags, buffer, sizeof securityFlags);
      return true;
    }
    options.push_back({option, static_cast<const char*>(buffer), length});
    return true;
  }
  bool queryOption(platform::InetHandle, uint32_t option, void* buffer, uint32_t* length) override {
    if (option != platform::kInetOptionSecurityFlags || *length < 4) return false;
    std::memcpy(buffer, &securityFlags, 4);
    return true;
  }
  bool send(platform::InetHandle) override {
    securityFlagsAtSend.push_back(securityFlags);
    bool ok = sendResults[std::min<size_t>(static_cast<size_t>(sends), sendResults.size() - 1)];
    ++sends;
    lastSendOk = ok;
    return ok;
  }
  uint32_t sendError(platform::InetHandle) override { return sends == 0 || lastSendOk ? 0 : sendFailure; }
  bool statusCode(platform::InetHandle, uint32_t* code) override {
    if (!lastSendOk) return false;
    *code = status;
    return true;
  }
  bool contentLength(platform::InetHandle, uint64_t* length) override {
    if (!lastSendOk || declaredLength < 0) return false;
    *length = static_cast<uint64_t>(declaredLength);
    return true;
  }
  bool read(platform::InetHandle, void* buffer, uint32_t size, uint32_t* count) override {
    *count = 0;
    if (readFails || !lastSendOk) return false; // as both real layers: a request whose resend failed
    if (position >= failAfter) return false;
    size_t n = std::min<size_t>({size, piece, body.size() - position, failAfter - position});
    std::memcpy(buffer, body.data() + position, n);
    position += n;
    *count = static_cast<uint32_t>(n);
    return true;
  }
  bool close(platform::InetHandle) override {
    ++closes;
    return true;
  }
  bool abort(platform::InetHandle) override {
    ++transferAborts;
    return true;
  }
  bool abortAll(uint32_t) override {
    ++aborts;
    return true;
  }

private:
  static platform::InetHandle handle(intptr_t n) { return reinterpret_cast<platform::InetHandle>(n * 16); }
  size_t position = 0;
  bool lastSendOk = false;
};

} // namespace testutil
