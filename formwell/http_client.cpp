#include "http_client.h"

#include <climits>
#include <exception>

#include "proxy_settings.h"

namespace formwell {

namespace {

// WinINet hands out all ones (INVALID_HANDLE_VALUE) from some failures instead of none.
bool usable(platform::InetHandle h) { return h != nullptr && h != reinterpret_cast<platform::InetHandle>(-1); }

// The certificate faults that the relaxed security flags let pass: an unknown authority, another
// name, out of date, or more than one of them. Nothing else is cured by asking again.
bool relaxedChecksWouldPass(uint32_t error) {
  return error == platform::kInetErrorInvalidCa || error == platform::kInetErrorSecCertCnInvalid ||
         error == platform::kInetErrorSecCertDateInvalid || error == platform::kInetErrorSecCertErrors;
}

} // namespace

CHttpClient::CHttpClient(platform::Internet& internet)
    : internet_(internet), session_(internet), connection_(internet), request_(internet) {}

// The handle owners close whatever a caller left open, request first.
CHttpClient::~CHttpClient() { close(); }

void CHttpClient::traceFailure(const std::string&, long, int, const std::string&, const std::string&) {}

void CHttpClient::fail(const std::string& text, bool withPath) {
  traceFailure(host_, port_, scheme_, withPath ? path_ : std::string(), text);
}

UrlParts CHttpClient::splitUrl(const std::string& url) {
  UrlParts p;
  size_t pos = 0;
  size_t colon = url.find(':');
  if (colon != std::string::npos && colon + 1 < url.size() && url[colon + 1] == '/') {
    p.scheme = url.substr(0, colon);
    pos = std::min(colon + 3, url.size());
  } else {
    p.scheme = "http";
  }
  // Credentials belong to the authority: an "@" in the path names no user and no host.
  size_t slash = url.find('/', pos);
  size_t authorityEnd = slash == std::string::npos ? url.size() : slash;
  size_t at = url.find('@', pos);
  if (at != std::string::npos && at < authorityEnd) {
    size_t sep = url.find(':', pos);
    if (sep != std::string::npos && sep < at) {
      p.user = url.substr(pos, sep - pos);
      p.password = url.substr(sep + 1, at - sep - 1);
    }
    pos = at + 1;
  }
  std::string hostPort = url.substr(pos, authorityEnd - pos);
  size_t portSep = hostPort.find(':');
  if (portSep != std::string::npos) {
    p.host = hostPort.substr(0, portSep);
    // Leading digits; none gives 0. A value beyond any port saturates so that it cannot wrap
    // round to some other, real port.
    long value = 0;
    for (size_t i = portSep + 1; i < hostPort.size() && hostPort[i] >= '0' && hostPort[i] <= '9'; ++i) {
      value = value * 10 + (hostPort[i] - '0');
      if (value > 65535) {
        value = LONG_MAX;
        break;
      }
    }
    p.port = value;
  } else {
    p.host = hostPort;
    p.port = p.scheme == "https" ? 443 : p.scheme == "ftp" ? 21 : 80;
  }
  p.path = slash == std::string::npos ? "/" : url.substr(slash);
  return p;
}

bool CHttpClient::openUrl(const std::string& url, const char* user, const char* password, const std::string& agent) {
  UrlParts p = splitUrl(url);
  int scheme;
  if (p.scheme.compare(0, 5, "https") == 0)
    scheme = kHttps;
  else if (p.scheme.compare(0, 4, "http") == 0)
    scheme = kHttp;
  else if (p.scheme.compare(0, 3, "ftp") == 0)
    scheme = kFtp;
  else {
    host_ = p.host;
    port_ = p.port;
    fail("connect failed...", false);
    return false;
  }
  path_ = p.path;
  if (!password && !p.password.empty()) password = p.password.c_str();
  if (!user && !p.user.empty()) user = p.user.c_str();
  return connect(p.host, p.port, user, password, scheme, agent);
}

bool CHttpClient::connect(const std::string& host, long port, const char* user, const char* password, int scheme,
                          const std::string& agent) {
  static const long kDefaultPort[] = {21, 80, 443};
  std::string failure;
  try {
    request_.reset();
    connection_.reset();
    session_.reset();
    host_ = host;
    scheme_ = scheme;
    port_ = port;
    if (scheme < kFtp || scheme > kHttps || port < 0 || port > 65535) {
      failure = "connect failed...";
    } else {
      long effectivePort = port == 0 ? kDefaultPort[scheme] : port;
      port_ = effectivePort;
      platform::InetAccess access = proxyMode == 1   ? platform::InetAccess::Direct
                                    : proxyMode == 3 ? platform::InetAccess::Proxy
                                                     : platform::InetAccess::Preconfig;
      session_.reset(
          internet_.open(agent, access, access == platform::InetAccess::Proxy ? proxyAddress.c_str() : nullptr));
      if (!usable(session_.get())) {
        failure = "open internet failed...";
      } else {
        platform::InetService service = scheme == kFtp ? platform::InetService::Ftp : platform::InetService::Http;
        uint32_t flags = scheme == kFtp ? platform::kInetFlagPassive : 0;
        connection_.reset(internet_.connect(session_.get(), host, static_cast<uint16_t>(effectivePort), user, password,
                                            service, flags));
        if (!usable(connection_.get()) || internet_.attemptConnect() != 0) {
          failure = "connect failed...";
        } else {
          if (user) user_ = user;
          if (password) password_ = password;
          return true;
        }
      }
    }
  } catch (...) {
    failure = "unknown exception...";
  }
  connection_.reset();
  session_.reset();
  fail(failure, false);
  return false;
}

bool CHttpClient::sendGet(const std::string& path, const char* referrer) {
  std::string failure;
  statusCode_ = 0;
  received_ = 0;
  bodyComplete_ = false;
  try {
    request_.reset();
    if (!usable(connection_.get())) {
      failure = "handle not opened...";
    } else {
      static const char* const kAcceptTypes[] = {"*/*", nullptr};
      uint32_t flags = platform::kInetFlagNoCacheWrite | (scheme_ == kHttps ? platform::kInetFlagSecure : 0);
      request_.reset(internet_.openRequest(connection_.get(), "GET", path, "HTTP/1.0", referrer, kAcceptTypes, flags));
      if (!usable(request_.get())) {
        failure = "request failed...";
      } else if (!internet_.addHeaders(request_.get(), "Accept: */*\r\n", platform::kHttpAddReqFlagReplace)) {
        failure = "additional header failed...";
      } else {
        // Credentials only as a pair: a user without a password would only earn a refusal.
        if (proxyMode == 3 && !proxyUser.empty() && !proxyPassword.empty()) {
          internet_.setOption(request_.get(), platform::kInetOptionProxyUsername, proxyUser.c_str(),
                              static_cast<uint32_t>(proxyUser.size() + 1));
          internet_.setOption(request_.get(), platform::kInetOptionProxyPassword, proxyPassword.c_str(),
                              static_cast<uint32_t>(proxyPassword.size() + 1));
        }
        // The update servers may present a certificate of the bank's own authority, for another
        // name, or out of date: accept it on a second attempt. Only then: a time-out, a refused
        // connection or any failure over plain HTTP would fail again, and a second wait for a
        // server (or a proxy) that says nothing would double the time before the failure shows.
        if (!internet_.send(request_.get()) && scheme_ == kHttps &&
            relaxedChecksWouldPass(internet_.sendError(request_.get()))) {
          uint32_t security = 0;
          internet_.querySecurityFlags(request_.get(), &security);
          security |= platform::kSecurityFlagIgnoreUnknownCa | platform::kSecurityFlagIgnoreCertCnInvalid |
                      platform::kSecurityFlagIgnoreCertDateInvalid;
          internet_.setSecurityFlags(request_.get(), security);
          internet_.send(request_.get());
        }
        uint32_t code = 0;
        if (internet_.statusCode(request_.get(), &code)) statusCode_ = code;
        path_ = path;
        return true;
      }
    }
  } catch (...) {
    failure = "unknown exception...";
  }
  request_.reset();
  fail(failure, true);
  return false;
}

int CHttpClient::read(void* buffer, int size) {
  std::string failure;
  try {
    if (!usable(request_.get())) {
      failure = "connection failed...";
    } else if (size <= 0) {
      return 0; // nothing asked, nothing lost: the request stays
    } else {
      uint32_t count = 0;
      if (!internet_.read(request_.get(), buffer, static_cast<uint32_t>(size), &count)) {
        failure = "response failed...";
      } else if (count > static_cast<uint32_t>(size)) {
        failure = "response failed...";
      } else if (count > 0) {
        received_ += count;
        return static_cast<int>(count);
      } else {
        // The stream has ended. WinINet reports a connection that closed early as a clean
        // end, so the declared length decides whether the body is whole.
        uint64_t declared = 0;
        if (internet_.contentLength(request_.get(), &declared) && declared != received_) {
          failure = "response failed...";
        } else {
          bodyComplete_ = true;
          return 0;
        }
      }
    }
  } catch (...) {
    failure = "unknown exception...";
  }
  request_.reset();
  bodyComplete_ = false;
  fail(failure, true);
  return -1;
}

void CHttpClient::close() {
  request_.reset();
  connection_.reset();
  session_.reset();
}

} // namespace formwell
