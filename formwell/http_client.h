// CHttpClient: one HTTP GET at a time over the Internet layer, for the version check and the
// package download. openUrl (which connects), sendGet, read until it returns 0 (the whole body)
// or -1 (a failure), close. Every failure ends in false or -1 and an English text handed to
// traceFailure; nothing is shown to the user.
// The proxy configuration (proxy_settings.h) is read on every connection and request.
// A client is used by one thread at a time; it owns its handles and closes what is still open
// when it is destroyed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/internet.h"

namespace formwell {

// The parts of a URL as splitUrl finds them.
struct UrlParts {
  std::string scheme;
  std::string user;
  std::string password;
  std::string host;
  long port = 0;
  std::string path;
};

class CHttpClient {
public:
  enum Scheme { kFtp = 0, kHttp = 1, kHttps = 2 };

  explicit CHttpClient(platform::Internet& internet = platform::systemInternet());
  virtual ~CHttpClient();
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // user and password may be null; explicit ones win over those written in the URL.
  bool openUrl(const std::string& url, const char* user, const char* password, const std::string& agent);
  // A port of 0 means the scheme's default port.
  virtual bool connect(const std::string& host, long port, const char* user, const char* password, int scheme,
                       const std::string& agent);
  // referrer may be null. An https send that fails on the server's certificate (an unknown
  // authority, another name, out of date) is repeated once with those checks relaxed; no other
  // failure is repeated. A send that failed still returns true: its failure shows in read (-1)
  // and in statusCode (0).
  virtual bool sendGet(const std::string& path, const char* referrer);
  // Bytes placed in buffer (at most size, which must be positive); 0 at the end of a whole
  // body; -1 after a failure: a transfer that broke off, was aborted or timed out, a body
  // shorter or longer than its declared Content-Length, a send that failed, no request.
  // After -1 the request is gone and every later read gives -1 as well.
  int read(void* buffer, int size);
  // True once read has returned 0: the body ended without a failure and, when the response
  // declared its length, with exactly that many bytes. False before, after -1, and after a
  // new sendGet.
  bool bodyComplete() const { return bodyComplete_; }
  void close();

  // The HTTP status of the last response, 0 when there is none. The client itself does not
  // judge it: callers decide what a non-2xx answer means to them.
  uint32_t statusCode() const { return statusCode_; }

  const std::string& host() const { return host_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  const std::string& path() const { return path_; }
  long port() const { return port_; }
  int scheme() const { return scheme_; }

  static UrlParts splitUrl(const std::string& url);

protected:
  // The diagnostic hook every failure reaches. It records nothing in the kit.
  virtual void traceFailure(const std::string& host, long port, int scheme, const std::string& path,
                            const std::string& text);

private:
  void fail(const std::string& text, bool withPath);

  platform::Internet& internet_;
  platform::InetHandleOwner session_;
  platform::InetHandleOwner connection_;
  platform::InetHandleOwner request_;
  std::string host_;
  std::string user_;
  std::string password_;
  std::string path_;
  long port_ = 0;
  int scheme_ = 0;
  uint32_t statusCode_ = 0;
  uint64_t received_ = 0; // body bytes of the current request handed out so far
  bool bodyComplete_ = false;
};

} // namespace formwell
