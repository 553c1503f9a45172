// The Internet calls the kit makes, in WinINet's shape: a session handle (open), a connection
// handle for one host (connect), one request handle per GET (openRequest), headers and options
// on the request, send, then the body in pieces (read), and close for each handle.
// Windows passes the calls to WinINet; Linux carries them out with libcurl and the same
// meaning: access type Direct uses no proxy, Proxy the named one, Preconfig the system's
// settings (the http_proxy/https_proxy/no_proxy environment); a failed send tells why
// (sendError, WinINet's numbers), and can be repeated on the same request after relaxing the
// security flags.
// Time-outs are WinINet's: 60 s to connect, 30 s to send, and 30 s of silence while waiting for
// any byte of the answer (a server that keeps trickling is not cut off by them). They can be set
// per session or request with the time-out options below.
// abort ends one transfer (the user left the update); abortAll ends every transfer in flight,
// so that no thread is inside the library when the process exits.
// Code that fetches takes an Internet& so tests can hand in a fake; systemInternet() is the
// real one. Handles belong to the thread that opened them; different handles may be used on
// different threads at once.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An opaque handle; nullptr means "none".
using InetHandle = void*;

enum class InetAccess { Preconfig, Direct, Proxy };
enum class InetService { Ftp, Http };

// Flags and options, numbered as WinINet numbers them.
constexpr uint32_t kInetFlagPassive = 0x08000000;      // connect: passive FTP
constexpr uint32_t kInetFlagNoCacheWrite = 0x04000000; // request: keep the response out of any cache
constexpr uint32_t kInetFlagSecure = 0x00800000;       // request: TLS (https)
constexpr uint32_t kHttpAddReqFlagAdd = 0x20000000;
constexpr uint32_t kHttpAddReqFlagReplace = 0x80000000;
constexpr uint32_t kInetOptionConnectTimeout = 2; // a uint32_t of milliseconds
constexpr uint32_t kInetOptionSendTimeout = 5;
constexpr uint32_t kInetOptionReceiveTimeout = 6;
constexpr uint32_t kInetOptionSecurityFlags = 31; // a uint32_t of the flags below
constexpr uint32_t kInetOptionProxyUsername = 43; // text; length counts the terminating NUL
constexpr uint32_t kInetOptionProxyPassword = 44;
constexpr uint32_t kSecurityFlagIgnoreUnknownCa = 0x00000100;
constexpr uint32_t kSecurityFlagIgnoreCertCnInvalid = 0x00001000;
constexpr uint32_t kSecurityFlagIgnoreCertDateInvalid = 0x00002000;

// Why a send failed (sendError), numbered as WinINet numbers its errors (ERROR_INTERNET_*,
// ERROR_HTTP_*). WinINet hands out others too; the libcurl backend gives one of these.
constexpr uint32_t kInetErrorTimeout = 12002;               // no answer within a time-out
constexpr uint32_t kInetErrorNameNotResolved = 12007;       // the host (or the proxy) has no address
constexpr uint32_t kInetErrorOperationCancelled = 12017;    // aborted (abort, abortAll)
constexpr uint32_t kInetErrorCannotConnect = 12029;         // the connection was refused or unreachable
constexpr uint32_t kInetErrorConnectionReset = 12031;       // the connection broke off
constexpr uint32_t kInetErrorSecCertDateInvalid = 12037;    // the server's certificate is out of date
constexpr uint32_t kInetErrorSecCertCnInvalid = 12038;      // the certificate is for another name
constexpr uint32_t kInetErrorHttpsToHttpOnRedir = 12040;    // an https address redirected to http
constexpr uint32_t kInetErrorInvalidCa = 12045;             // the certificate's authority is not trusted
constexpr uint32_t kInetErrorSecCertErrors = 12055;         // several of the three certificate faults above
constexpr uint32_t kInetErrorInvalidServerResponse = 12152; // no HTTP answer (nothing, or garbage)
constexpr uint32_t kInetErrorSecureFailure = 12175;         // TLS failed otherwise (handshake, protocol)

class Internet {
public:
  virtual ~Internet() = default;
  // InternetOpenA: proxyName is used only with InetAccess::Proxy; no bypass list, flags 0.
  virtual InetHandle open(const std::string& agent, InetAccess access, const char* proxyName) = 0;
  // InternetConnectA: user and password may be null. Nothing goes over the wire yet.
  virtual InetHandle connect(InetHandle session, const std::string& host, uint16_t port, const char* user,
                             const char* password, InetService service, uint32_t flags) = 0;
  // InternetAttemptConnect(0): 0 when the machine may go on line.
  virtual uint32_t attemptConnect() = 0;
  // HttpOpenRequestA: acceptTypes is a null-terminated list (or null); referrer may be null.
  virtual InetHandle openRequest(InetHandle connection, const std::string& verb, const std::string& path,
                                 const std::string& version, const char* referrer, const char* const* acceptTypes,
                                 uint32_t flags) = 0;
  // HttpAddRequestHeadersA: lines ending in "\r\n"; modifiers kHttpAddReqFlag*.
  virtual bool addHeaders(InetHandle request, const std::string& headers, uint32_t modifiers) = 0;
  // InternetSetOptionA / InternetQueryOptionA (the options above).
  virtual bool setOption(InetHandle handle, uint32_t option, const void* buffer, uint32_t length) = 0;
  virtual bool queryOption(InetHandle handle, uint32_t option, void* buffer, uint32_t* length) = 0;
  // HttpSendRequestA without extra headers or body: true once the final response's headers are
  // in. A proxy's answer to a tunnel request (CONNECT) is never taken for the response, and an
  // https address is never redirected to an http one.
  virtual bool send(InetHandle request) = 0;
  // Why the last send on request failed (GetLastError right after HttpSendRequestA): one of the
  // kInetError* numbers or another of WinINet's; 0 when it did not fail, or before any send.
  virtual uint32_t sendError(InetHandle request) = 0;
  // HttpQueryInfoA(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER) after a send: the server's
  // status, never a proxy's answer to CONNECT.
  virtual bool statusCode(InetHandle request, uint32_t* code) = 0;
  // HttpQueryInfoA(HTTP_QUERY_CONTENT_LENGTH) after a send: false when the response declares no
  // length (or it is no number).
  virtual bool contentLength(InetHandle request, uint64_t* length) = 0;
  // InternetReadFile: *count 0 with true means the body has ended; false means the transfer
  // failed (a reset, a time-out, an abort, a body cut short where the library can tell).
  virtual bool read(InetHandle request, void* buffer, uint32_t size, uint32_t* count) = 0;
  // InternetCloseHandle.
  virtual bool close(InetHandle handle) = 0;

  // Ends one request's transfer from any thread: a send or read waiting on it returns false at
  // once, and every later send or read on it fails; other transfers go on. The caller keeps the
  // request's owner from closing it meanwhile; the owner still closes it. False when it is no
  // request of this layer that is open.
  virtual bool abort(InetHandle request) = 0;

  // Ends every transfer in flight from any thread: a send or read that is waiting returns false
  // at once, and every later request, send or read fails, for the rest of the process (it is
  // closing down, or the user has left the update). Then waits up to waitMs until every request
  // handle has been closed by its owner, so that no thread is inside the library any more.
  // True when that happened in time.
  virtual bool abortAll(uint32_t waitMs) = 0;

  bool querySecurityFlags(InetHandle request, uint32_t* flags) {
    uint32_t length = sizeof *flags;
    return queryOption(request, kInetOptionSecurityFlags, flags, &length);
  }
  bool setSecurityFlags(InetHandle request, uint32_t flags) {
    return setOption(request, kInetOptionSecurityFlags, &flags, sizeof flags);
  }
};

// The machine's Internet layer (a process-wide object; never destroyed, so a worker thread
// that is still fetching when the process ends finds it intact).
Internet& systemInternet();

// A handle that closes itself through the layer that opened it. Not copyable.
class InetHandleOwner {
public:
  explicit InetHandleOwner(Internet& internet) : internet_(internet) {}
  ~InetHandleOwner() { reset(); }
  InetHandleOwner(const InetHandleOwner&) = delete;
  InetHandleOwner& operator=(const InetHandleOwner&) = delete;

  InetHandle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // Takes over a new handle, closing the one held before.
  void reset(InetHandle handle = nullptr) {
    if (handle_) internet_.close(handle_);
    handle_ = handle;
  }

private:
  Internet& internet_;
  InetHandle handle_ = nullptr;
};

} // namespace platform
