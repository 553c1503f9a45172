// WinINet behind the layer's calls. Each handle is wrapped so that abortAll can close the ones
// still open from another thread (WinINet's way of cancelling a call that blocks on them) while
// their owners keep a pointer that stays valid until they close it themselves.
#include "platform/internet.h"

#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <mutex>
#include <set>

namespace platform {

// The layer's numbers are WinINet's, handed through as they are.
static_assert(kInetErrorTimeout == ERROR_INTERNET_TIMEOUT &&
                  kInetErrorNameNotResolved == ERROR_INTERNET_NAME_NOT_RESOLVED &&
                  kInetErrorOperationCancelled == ERROR_INTERNET_OPERATION_CANCELLED &&
                  kInetErrorCannotConnect == ERROR_INTERNET_CANNOT_CONNECT &&
                  kInetErrorConnectionReset == ERROR_INTERNET_CONNECTION_RESET &&
                  kInetErrorSecCertDateInvalid == ERROR_INTERNET_SEC_CERT_DATE_INVALID &&
                  kInetErrorSecCertCnInvalid == ERROR_INTERNET_SEC_CERT_CN_INVALID &&
                  kInetErrorHttpsToHttpOnRedir == ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR &&
                  kInetErrorInvalidCa == ERROR_INTERNET_INVALID_CA &&
                  kInetErrorSecCertErrors == ERROR_INTERNET_SEC_CERT_ERRORS &&
                  kInetErrorInvalidServerResponse == ERROR_HTTP_INVALID_SERVER_RESPONSE,
              "the layer's error numbers are WinINet's"); // mingw's wininet.h lacks ERROR_INTERNET_SECURE_FAILURE

namespace {

struct Wrapped {
  enum class Kind { Session, Connection, Request } kind;
  HINTERNET h;
  bool closed = false;  // closed by abortAll; the owner's close only forgets it
  bool secure = false;  // a request opened with INTERNET_FLAG_SECURE
  bool refused = false; // its last send was redirected from https to http
  DWORD sendError = 0;  // GetLastError of its last failed send; 0 after one that succeeded
};

// The handles alive and whether the layer has been shut. Never destroyed: threads may still
// close handles while the process ends.
struct Shared {
  std::mutex mutex;
  std::set<Wrapped*> live;
  int requests = 0;
  bool aborted = false;
};

Shared& shared() {
  static Shared* s = new Shared;
  return *s;
}

Wrapped* w(InetHandle handle) { return static_cast<Wrapped*>(handle); }
HINTERNET h(InetHandle handle) { return handle ? w(handle)->h : nullptr; }

InetHandle wrap(HINTERNET handle, Wrapped::Kind kind) {
  if (!handle) return nullptr;
  Shared& s = shared();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.aborted) { // opened while the layer was being shut: not handed out
    InternetCloseHandle(handle);
    return nullptr;
  }
  auto* wrapped = new Wrapped{kind, handle};
  s.live.insert(wrapped);
  if (kind == Wrapped::Kind::Request) ++s.requests;
  return wrapped;
}

bool isAborted() {
  Shared& s = shared();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.aborted;
}

class WinInet final : public Internet {
public:
  InetHandle open(const std::string& agent, InetAccess access, const char* proxyName) override {
    if (isAborted()) return nullptr;
    DWORD type = INTERNET_OPEN_TYPE_PRECONFIG;
    if (access == InetAccess::Direct) type = INTERNET_OPEN_TYPE_DIRECT;
    if (access == InetAccess::Proxy) type = INTERNET_OPEN_TYPE_PROXY;
    return wrap(InternetOpenA(agent.c_str(), type, access == InetAccess::Proxy ? proxyName : nullptr, nullptr, 0),
                Wrapped::Kind::Session);
  }

  InetHandle connect(InetHandle session, const std::string& host, uint16_t port, const char* user, const char* password,
                     InetService service, uint32_t flags) override {
    DWORD svc = service == InetService::Ftp ? INTERNET_SERVICE_FTP : INTERNET_SERVICE_HTTP;
    return wrap(InternetConnectA(h(session), host.c_str(), port, user, password, svc, flags, 0),
                Wrapped::Kind::Connection);
  }

  uint32_t attemptConnect() override { return InternetAttemptConnect(0); }

  InetHandle openRequest(InetHandle connection, const std::string& verb, const std::string& path,
                         const std::string& version, const char* referrer, const char* const* acceptTypes,
                         uint32_t flags) override {
    InetHandle request = wrap(HttpOpenRequestA(h(connection), verb.c_str(), path.c_str(), version.c_str(), referrer,
                                               const_cast<LPCSTR*>(acceptTypes), flags, 0),
                              Wrapped::Kind::Request);
    if (request) w(request)->secure = (flags & kInetFlagSecure) != 0;
    return request;
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

  // A handle that abortAll closed in the meantime makes the call fail; none is reused, since
  // nothing new is opened once the layer is shut.
  // Why a send failed is kept with the request at once: the caller asks after other calls
  // (the layer's lock, the C library) may have set the thread's last error anew.
  bool send(InetHandle request) override {
    if (!request) return false;
    Wrapped* r = w(request);
    r->sendError = ERROR_INTERNET_OPERATION_CANCELLED;
    if (isAborted()) return false;
    r->refused = false;
    if (!HttpSendRequestA(h(request), nullptr, 0, nullptr, 0)) {
      r->sendError = GetLastError();
      return false;
    }
    if (r->secure && redirectedToHttp(request)) {
      // WinINet refuses this redirect by default; some implementations follow it. The answer
      // of the http address is not handed out.
      r->refused = true;
      r->sendError = ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
      SetLastError(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
      return false;
    }
    r->sendError = 0;
    return true;
  }

  uint32_t sendError(InetHandle request) override { return request ? w(request)->sendError : 0; }

  static bool redirectedToHttp(InetHandle request) {
    char url[2048];
    DWORD len = sizeof url;
    if (!InternetQueryOptionA(h(request), INTERNET_OPTION_URL, url, &len)) return false;
    return len >= 7 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, url, 7, "http://", 7) == CSTR_EQUAL;
  }

  bool statusCode(InetHandle request, uint32_t* code) override {
    if (!request || w(request)->refused) return false;
    DWORD value = 0, len = sizeof value;
    if (!HttpQueryInfoA(h(request), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &len, nullptr))
      return false;
    *code = value;
    return true;
  }

  bool contentLength(InetHandle request, uint64_t* length) override {
    // As text: the numeric form is 32 bits wide.
    if (!request || w(request)->refused) return false;
    char text[32] = {};
    DWORD len = sizeof text - 1;
    if (!HttpQueryInfoA(h(request), HTTP_QUERY_CONTENT_LENGTH, text, &len, nullptr)) return false;
    text[len < sizeof text ? len : sizeof text - 1] = 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t')
      ++p;
    if (*p < '0' || *p > '9') return false;
    char* end = nullptr;
    unsigned long long value = std::strtoull(p, &end, 10);
    while (*end == ' ' || *end == '\t')
      ++end;
    if (*end != 0) return false;
    *length = value;
    return true;
  }

  bool read(InetHandle request, void* buffer, uint32_t size, uint32_t* count) override {
    *count = 0;
    if (!request || w(request)->refused || isAborted()) return false;
    DWORD got = 0;
    BOOL ok = InternetReadFile(h(request), buffer, size, &got);
    *count = got;
    return ok;
  }

  bool close(InetHandle handle) override {
    if (!handle) return false;
    Wrapped* wrapped = w(handle);
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    bool ok = wrapped->closed || InternetCloseHandle(wrapped->h);
    s.live.erase(wrapped);
    if (wrapped->kind == Wrapped::Kind::Request) --s.requests;
    delete wrapped;
    return ok;
  }

  // Closing the handle is WinINet's way of ending a call that blocks on it; the owner's close
  // then only forgets it.
  bool abort(InetHandle request) override {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    Wrapped* wrapped = w(request);
    if (!s.live.count(wrapped) || wrapped->kind != Wrapped::Kind::Request) return false;
    if (!wrapped->closed) {
      InternetCloseHandle(wrapped->h);
      wrapped->closed = true;
    }
    return true;
  }

  bool abortAll(uint32_t waitMs) override {
    Shared& s = shared();
    {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.aborted = true;
      // Requests first, then what they were opened on: a call blocked on any of them returns.
      for (Wrapped::Kind kind : {Wrapped::Kind::Request, Wrapped::Kind::Connection, Wrapped::Kind::Session})
        for (Wrapped* wrapped : s.live)
          if (wrapped->kind == kind && !wrapped->closed) {
            InternetCloseHandle(wrapped->h);
            wrapped->closed = true;
          }
    }
    DWORD start = GetTickCount();
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.requests == 0) return true;
      }
      if (GetTickCount() - start >= waitMs) return false;
      Sleep(5);
    }
  }
};

} // namespace

Internet& systemInternet() {
  static Internet* internet = new WinInet; // never destroyed: see the header
  return *internet;
}

} // namespace platform
