#include "platform/internet.h"

#include <windows.h>
#include <wininet.h>

namespace platform {

namespace {

HINTERNET h(InetHandle handle) { return static_cast<HINTERNET>(handle); }

class WinInet final : public Internet {
public:
  InetHandle open(const std::string& agent, InetAccess access, const char* proxyName) override {
    DWORD type = INTERNET_OPEN_TYPE_PRECONFIG;
    if (access == InetAccess::Direct) type = INTERNET_OPEN_TYPE_DIRECT;
    if (access == InetAccess::Proxy) type = INTERNET_OPEN_TYPE_PROXY;
    return InternetOpenA(agent.c_str(), type, access == InetAccess::Proxy ? proxyName : nullptr, nullptr, 0);
  }

  InetHandle connect(InetHandle session, const std::string& host, uint16_t port, const char* user, const char* password,
                     InetService service, uint32_t flags) override {
    DWORD svc = service == InetService::Ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP;
    return InternetConnectA(h(session), host.c_str(), port, user, password, svc, flags, 0);
  }

  uint32_t attemptConnect() override { return InternetAttemptConnect(0); }

  InetHandle openRequest(InetHandle connection, const std::string& verb, const std::string& path,
                         const std::string& version, const char* referrer, const char* const* acceptTypes,
                         uint32_t flags) override {
    return HttpOpenRequestA(h(connection), verb.c_str(), path.c_str(), version.c_str(), referrer,
                            const_cast<LPCSTR*>(acceptTypes), flags, 0);
  }

  bool addHeaders(InetHandle request, const std::string& headers, uint32_t modifiers) override {
    return HttpAddRequestHeadersA(h(request), headers.c_str(), static_cast<DWORD>(headers.size()), modifiers);
  }

  bool setOption(InetHandle handle, uint32_t option, const void* buffer, uint32_t length) override {
    return InternetSetOptionA(h(handle), option, const_cast<void*>(buffer), length);
  }

  bool queryOption(InetHandle handle, uint32_t option, void* buffer, uint32_t* length) override {
    DWORD len = *length;
    BOOL ok = InternetQueryOptionA(h(handle), option, buffer, &len);
    *length = len;
    return ok;
  }

  bool send(InetHandle request) override { return HttpSendRequestA(h(request), nullptr, 0, nullptr, 0); }

  bool statusCode(InetHandle request, uint32_t* code) override {
    DWORD value = 0, len = sizeof value;
    if (!HttpQueryInfoA(h(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &len, nullptr))
      return false;
    *code = value;
    return true;
  }

  bool read(InetHandle request, void* buffer, uint32_t size, uint32_t* count) override {
    DWORD got = 0;
    BOOL ok = InternetReadFile(h(request), buffer, size, &got);
    *count = got;
    return ok;
  }

  bool close(InetHandle handle) override { return InternetCloseHandle(h(handle)); }
};

} // namespace

Internet& systemInternet() {
  static Internet* internet = new WinInet; // never destroyed: see the header
  return *internet;
}

} // namespace platform
