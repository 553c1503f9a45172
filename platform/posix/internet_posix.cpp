// libcurl behind WinINet's calls. A session and a connection only remember what they were
// given; the request builds the transfer, and send drives it until the final response's
// headers are in. The body then waits in a bounded buffer: when it is full the transfer is
// paused, and read resumes it once the caller has taken what was there.
// Every request is known to the layer while it lives, so that abortAll can wake the thread
// that drives it and then wait until its owner has closed it (its libcurl handles cleaned up).
#include "platform/internet.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// Body bytes held between reads; beyond this the transfer pauses.
constexpr size_t kBodyBufferCap = 1 << 20;

// WinINet's default time-outs, which the kit relies on where it sets none of its own. The
// connect time-out covers reaching the server (or the proxy); the receive time-out is the
// longest silence while an answer is awaited. A GET request is a few hundred bytes that the
// socket always takes at once, so the send time-out is kept for the options' sake only.
struct Timeouts {
  uint32_t connectMs = 60000;
  uint32_t sendMs = 30000;
  uint32_t receiveMs = 30000;
};

struct Handle {
  enum class Kind { Session, Connection, Request } kind;
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() = default;
  Timeouts timeouts; // handed down to the handles opened under this one
};

struct Session : Handle {
  Session() : Handle(Kind::Session) {}
  std::string agent;
  InetAccess access = InetAccess::Preconfig;
  std::string proxyName;
};

struct Request;

// What abortAll needs: the requests alive, and whether the layer has been shut.
struct Shared {
  std::mutex mutex;
  std::condition_variable idle;
  std::set<Request*> live; // requests whose transfer may still be driven
  int alive = 0;           // requests not yet fully cleaned up
  bool aborted = false;
};

Shared& shared() {
  static Shared* s = new Shared; // never destroyed: threads may still close handles at exit
  return *s;
}

struct Connection : Handle {
  Connection() : Handle(Kind::Connection) {}
  Session session; // a copy: closing the session first leaves the connection usable
  std::string host;
  uint16_t port = 0;
  bool hasUser = false, hasPassword = false;
  std::string user, password;
  InetService service = InetService::Http;
};

struct Request : Handle {
  Request() : Handle(Kind::Request) {}
  ~Request() override {
    Shared& s = shared();
    if (registered) {
      std::lock_guard<std::mutex> lock(s.mutex);
      s.live.erase(this); // abortAll no longer wakes a multi handle that is going away
    }
    if (multi && easy) curl_multi_remove_handle(multi, easy);
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
    if (headerList) curl_slist_free_all(headerList);
    // OpenSSL keeps state per thread (its error queue, its random generators) until the thread
    // ends. A thread that has closed its request may outlive the process's exit, and OpenSSL's
    // clean-up at exit cannot reach that state: hand it back now, while the layer still counts
    // this request. OpenSSL sets it up again if this thread makes another connection.
    OPENSSL_thread_stop();
    if (registered) {
      std::lock_guard<std::mutex> lock(s.mutex);
      --s.alive;
      s.idle.notify_all();
    }
  }

  // Makes the request known to abortAll; false when the layer has been shut.
  bool enrol() {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.aborted) return false;
    s.live.insert(this);
    ++s.alive;
    registered = true;
    return true;
  }

  bool registered = false;
  std::atomic<bool> aborted{false};

  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headerList = nullptr;
  bool added = false;
  std::string url;
  Connection connection;
  std::vector<std::pair<std::string, std::string>> headers; // name, whole line
  uint32_t securityFlags = 0;
  std::string proxyUser, proxyPassword;
  std::string referrer;

  // The state of the current send.
  bool sent = false;        // send succeeded: the final headers are in
  bool headersDone = false; // the final response's header block has ended
  bool finished = false;    // the transfer has ended (result says how)
  CURLcode result = CURLE_OK;
  uint32_t sendError = 0; // why the last send failed, in WinINet's numbers
  int socket = -1;        // the transfer's socket while libcurl holds it open
  bool paused = false;
  std::chrono::steady_clock::time_point lastByte; // of any part of the answer, headers included
  std::vector<char> body;
  size_t bodyPos = 0;

  size_t buffered() const { return body.size() - bodyPos; }
};

std::string lowerName(const std::string& line) {
  std::string name = line.substr(0, line.find(':'));
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
    name.pop_back();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
  return name;
}

uint32_t responseCode(Request* r) {
  long code = 0;
  if (curl_easy_getinfo(r->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code < 0) return 0;
  return static_cast<uint32_t>(code);
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<Request*>(user);
  size_t n = size * count;
  r->lastByte = std::chrono::steady_clock::now();
  if ((n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n')) {
    // The end of a header block; a proxy's answer to CONNECT never gets here (it is
    // suppressed). Informational answers, redirects and authentication challenges may be
    // followed by another block that libcurl asks for itself; for those the first body byte or
    // the end of the transfer tells that this was the final answer. The status is libcurl's
    // own reading of the block that just ended.
    uint32_t s = responseCode(r);
    bool interim = s < 200 || (s >= 300 && s < 400) || s == 401 || s == 407;
    if (!interim) r->headersDone = true;
  }
  return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<Request*>(user);
  size_t n = size * count;
  r->lastByte = std::chrono::steady_clock::now();
  if (r->buffered() >= kBodyBufferCap) {
    r->paused = true;
    return CURL_WRITEFUNC_PAUSE; // libcurl keeps these bytes and hands them over again on resume
  }
  if (r->bodyPos == r->body.size()) {
    r->body.clear();
    r->bodyPos = 0;
  } else if (r->bodyPos >= r->body.size() / 2) {
    r->body.erase(r->body.begin(), r->body.begin() + static_cast<std::ptrdiff_t>(r->bodyPos));
    r->bodyPos = 0;
  }
  r->body.insert(r->body.end(), data, data + n);
  r->headersDone = true;
  return n;
}

// True once the connection to the server (or the proxy) stands; before that only the connect
// time-out, which libcurl keeps, applies. libcurl counts a TLS handshake and a proxy's tunnel as
// part of connecting, but they are waits for an answer like any other (WinINet's receive
// time-out bounds them): the socket's own connection decides.
bool connected(Request* r) {
  curl_off_t t = 0;
  if (curl_easy_getinfo(r->easy, CURLINFO_CONNECT_TIME_T, &t) == CURLE_OK && t > 0) return true;
  sockaddr_storage peer;
  socklen_t length = sizeof peer;
  return r->socket >= 0 && ::getpeername(r->socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

// Ends the transfer as failed, for an abort or a time-out of ours.
void endTransfer(Request* r, CURLcode why) {
  curl_multi_remove_handle(r->multi, r->easy);
  r->added = false;
  r->finished = true;
  r->result = why;
  r->paused = false;
}

// Runs the transfer for a while: until it has ended, or until stop() holds. A transfer that
// is aborted, or that hears nothing for the receive time-out once connected, ends as failed.
template <typename Stop> void drive(Request* r, Stop stop) {
  using clock = std::chrono::steady_clock;
  r->lastByte = clock::now();
  const auto silence = std::chrono::milliseconds(r->timeouts.receiveMs);
  bool wasConnected = false;
  while (!r->finished && !stop()) {
    if (r->aborted.load(std::memory_order_acquire)) return endTransfer(r, CURLE_ABORTED_BY_CALLBACK);
    int running = 0;
    curl_multi_perform(r->multi, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(r->multi, &left)) {
      if (msg->msg == CURLMSG_DONE) {
        r->finished = true;
        r->result = msg->data.result;
      }
    }
    if (r->finished || stop()) break;
    if (r->paused) break; // the caller's buffer is full: its next read resumes
    if (!wasConnected && connected(r)) {
      wasConnected = true; // the silence is counted from here, not from the start of the connect
      r->lastByte = clock::now();
    }
    if (wasConnected && clock::now() - r->lastByte > silence) return endTransfer(r, CURLE_OPERATION_TIMEDOUT);
    curl_multi_poll(r->multi, nullptr, 0, 100, nullptr); // abortAll wakes it early
  }
}

// The trusted certificates, loaded once when the layer is made (on the thread that first asks
// for it, at start-up) and shared by every TLS connection. Left to libcurl, each connection
// would parse the whole bundle inside the fetch thread, where no abort can reach it for tens of
// milliseconds (seconds under a sanitizer); a program that ended meanwhile would tear OpenSSL
// down under it. Never freed. Null when nothing could be loaded: libcurl's own loading applies.
X509_STORE* trustedCertificates = nullptr;

void loadTrustedCertificates() {
  CURL* probe = curl_easy_init();
  if (!probe) return;
  char* file = nullptr;
  char* folder = nullptr;
  curl_easy_getinfo(probe, CURLINFO_CAINFO, &file); // the build's defaults, as libcurl would use them
  curl_easy_getinfo(probe, CURLINFO_CAPATH, &folder);
  X509_STORE* store = X509_STORE_new();
  bool loaded = false;
  if (store && file && X509_STORE_load_file(store, file) == 1) loaded = true;
  if (store && folder && X509_STORE_load_path(store, folder) == 1) loaded = true;
  curl_easy_cleanup(probe);
  if (loaded)
    trustedCertificates = store;
  else if (store)
    X509_STORE_free(store);
}

CURLcode onSslContext(CURL*, void* context, void*) {
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(context), trustedCertificates); // takes its own reference
  return CURLE_OK;
}

// Every descriptor of the layer is closed on exec, so that no child process (the program's
// self-replacement shell, for one) holds a connection of ours open.
curl_socket_t openSocket(void* request, curlsocktype, curl_sockaddr* address) {
  int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  // With several addresses tried at once the last one opened is watched; once it is closed only
  // libcurl's own connect time counts, as before.
  if (fd >= 0) static_cast<Request*>(request)->socket = fd;
  return fd;
}

int closeSocket(void* request, curl_socket_t fd) {
  auto* r = static_cast<Request*>(request);
  if (r->socket == fd) r->socket = -1; // its number may be handed out anew at once
  return ::close(fd);
}

// libcurl makes the wake-up socket pair of each multi handle without close-on-exec and gives no
// way to reach it, so the sockets of the process that lack the flag get it after each
// curl_multi_init. Nothing in the kit hands a socket to a child on purpose.
void closeSocketsOnExec() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return;
  int own = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != 0 || fd <= 2 || fd == own) continue;
    struct stat st;
    int flags = ::fcntl(static_cast<int>(fd), F_GETFD);
    if (flags < 0 || (flags & FD_CLOEXEC) || ::fstat(static_cast<int>(fd), &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
    ::fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
  }
  ::closedir(dir);
}

void buildHeaderList(Request* r) {
  if (r->headerList) curl_slist_free_all(r->headerList);
  r->headerList = nullptr;
  for (const auto& h : r->headers)
    r->headerList = curl_slist_append(r->headerList, h.second.c_str());
  // libcurl's own Pragma line would say more than WinINet does.
  r->headerList = curl_slist_append(r->headerList, "Pragma:");
}

void configure(Request* r) {
  CURL* e = r->easy;
  curl_easy_reset(e);
  curl_easy_setopt(e, CURLOPT_URL, r->url.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(e, CURLOPT_USERAGENT, r->connection.session.agent.c_str());
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r->timeouts.connectMs));
  curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, openSocket);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, r);
  curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
  curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, r);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 128L * 1024);
  // WinINet follows redirects of a GET by itself, between http and https, but never from an
  // https address down to an http one.
  bool secure = r->url.compare(0, 8, "https://") == 0;
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 20L);
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  // The proxy's answer to CONNECT is no answer of the server's: it must not end the headers.
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (!r->referrer.empty()) curl_easy_setopt(e, CURLOPT_REFERER, r->referrer.c_str());
  buildHeaderList(r);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, r->headerList);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, r);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, r);

  const Session& s = r->connection.session;
  if (s.access == InetAccess::Direct) {
    curl_easy_setopt(e, CURLOPT_PROXY, ""); // "" turns off the environment's proxy too
  } else if (s.access == InetAccess::Proxy) {
    // The named proxy for every host: an empty bypass list also overrides no_proxy.
    curl_easy_setopt(e, CURLOPT_PROXY, s.proxyName.c_str());
    curl_easy_setopt(e, CURLOPT_NOPROXY, "");
  } // Preconfig: libcurl reads http_proxy, https_proxy and no_proxy itself
  if (!r->proxyUser.empty() || !r->proxyPassword.empty()) {
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, r->proxyUser.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, r->proxyPassword.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, CURLAUTH_ANY); // answer the proxy's challenge, as WinINet does
  }
  if (r->connection.hasUser) curl_easy_setopt(e, CURLOPT_USERNAME, r->connection.user.c_str());
  if (r->connection.hasPassword) curl_easy_setopt(e, CURLOPT_PASSWORD, r->connection.password.c_str());

  // OpenSSL has no switch for the certificate's dates alone: ignoring the unknown authority
  // turns off the chain check, dates included. The kit relaxes all three together.
  bool verifyPeer = !(r->securityFlags & kSecurityFlagIgnoreUnknownCa);
  bool verifyHost = !(r->securityFlags & kSecurityFlagIgnoreCertCnInvalid);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, verifyPeer ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, verifyHost ? 2L : 0L);
  if (trustedCertificates) {
    curl_easy_setopt(e, CURLOPT_CAINFO, nullptr); // nothing to load: the shared store is handed in
    curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(e, CURLOPT_PROXY_CAINFO, nullptr);
    curl_easy_setopt(e, CURLOPT_PROXY_CAPATH, nullptr);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, onSslContext);
  }
}

// A failed transfer's reason in WinINet's numbers. libcurl reports every refused server
// certificate as CURLE_PEER_FAILED_VERIFICATION; OpenSSL's verdict on the chain tells which fault
// it was: none (the chain was good) means the name did not match, which libcurl checks after it.
uint32_t winInetError(Request* r, CURLcode result) {
  switch (result) {
  case CURLE_PEER_FAILED_VERIFICATION: {
    long verdict = X509_V_OK;
    curl_easy_getinfo(r->easy, CURLINFO_SSL_VERIFYRESULT, &verdict);
    if (verdict == X509_V_OK || verdict == X509_V_ERR_HOSTNAME_MISMATCH || verdict == X509_V_ERR_IP_ADDRESS_MISMATCH)
      return kInetErrorSecCertCnInvalid;
    if (verdict == X509_V_ERR_CERT_HAS_EXPIRED || verdict == X509_V_ERR_CERT_NOT_YET_VALID)
      return kInetErrorSecCertDateInvalid;
    return kInetErrorInvalidCa; // no trusted authority: self-signed, an unknown issuer, a chain cut short
  }
  case CURLE_OPERATION_TIMEDOUT: return kInetErrorTimeout;
  case CURLE_COULDNT_RESOLVE_HOST:
  case CURLE_COULDNT_RESOLVE_PROXY: return kInetErrorNameNotResolved;
  case CURLE_ABORTED_BY_CALLBACK: return kInetErrorOperationCancelled;
  case CURLE_COULDNT_CONNECT: return kInetErrorCannotConnect;
  case CURLE_SEND_ERROR:
  case CURLE_RECV_ERROR: return kInetErrorConnectionReset;
  case CURLE_UNSUPPORTED_PROTOCOL: return kInetErrorHttpsToHttpOnRedir; // only a redirect names another scheme
  case CURLE_SSL_CONNECT_ERROR:
  case CURLE_SSL_CERTPROBLEM:
  case CURLE_SSL_CIPHER:
  case CURLE_SSL_CACERT_BADFILE:
  case CURLE_SSL_ENGINE_INITFAILED: return kInetErrorSecureFailure;
  default: return kInetErrorInvalidServerResponse;
  }
}

std::string textOption(const void* buffer, uint32_t length) {
  const char* p = static_cast<const char*>(buffer);
  return std::string(p, strnlen(p, length));
}

template <typename T> T* as(InetHandle handle, Handle::Kind kind) {
  auto* base = static_cast<Handle*>(handle);
  return base && base->kind == kind ? static_cast<T*>(base) : nullptr;
}

bool setTimeout(Handle* h, uint32_t option, const void* buffer, uint32_t length) {
  if (length < sizeof(uint32_t)) return false;
  uint32_t ms;
  std::memcpy(&ms, buffer, sizeof ms);
  if (option == kInetOptionConnectTimeout) h->timeouts.connectMs = ms;
  if (option == kInetOptionSendTimeout) h->timeouts.sendMs = ms;
  if (option == kInetOptionReceiveTimeout) h->timeouts.receiveMs = ms;
  return true;
}

uint32_t timeout(const Handle* h, uint32_t option) {
  return option == kInetOptionConnectTimeout ? h->timeouts.connectMs
         : option == kInetOptionSendTimeout  ? h->timeouts.sendMs
                                             : h->timeouts.receiveMs;
}

bool isTimeout(uint32_t option) {
  return option == kInetOptionConnectTimeout || option == kInetOptionSendTimeout || option == kInetOptionReceiveTimeout;
}

class CurlInternet final : public Internet {
public:
  CurlInternet() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    loadTrustedCertificates();
  }

  InetHandle open(const std::string& agent, InetAccess access, const char* proxyName) override {
    auto* s = new Session;
    s->agent = agent;
    s->access = access;
    if (access == InetAccess::Proxy && proxyName) s->proxyName = proxyName;
    return static_cast<Handle*>(s);
  }

  InetHandle connect(InetHandle session, const std::string& host, uint16_t port, const char* user, const char* password,
                     InetService service, uint32_t) override {
    auto* s = as<Session>(session, Handle::Kind::Session);
    if (!s || host.empty()) return nullptr;
    auto* c = new Connection;
    c->session = *s;
    c->timeouts = s->timeouts;
    c->host = host;
    c->port = port; // 0: the scheme's default, settled when the request knows whether it is secure
    c->hasUser = user != nullptr;
    c->hasPassword = password != nullptr;
    if (user) c->user = user;
    if (password) c->password = password;
    c->service = service;
    return static_cast<Handle*>(c);
  }

  uint32_t attemptConnect() override { return 0; }

  InetHandle openRequest(InetHandle connection, const std::string&, const std::string& path, const std::string&,
                         const char* referrer, const char* const* acceptTypes, uint32_t flags) override {
    auto* c = as<Connection>(connection, Handle::Kind::Connection);
    // As in WinINet, an HTTP request cannot be opened on an FTP connection.
    if (!c || c->service != InetService::Http) return nullptr;
    auto* r = new Request;
    r->connection = *c;
    r->timeouts = c->timeouts;
    r->easy = curl_easy_init();
    r->multi = curl_multi_init();
    if (r->multi) closeSocketsOnExec();
    // Enrolled last, once the handles that abortAll touches are in place.
    if (!r->easy || !r->multi || !r->enrol()) { // enrol fails when the layer is shut
      delete r;
      return nullptr;
    }
    bool secure = (flags & kInetFlagSecure) != 0;
    std::string host = c->host.find(':') != std::string::npos ? "[" + c->host + "]" : c->host;
    uint16_t port = c->port != 0 ? c->port : (secure ? 443 : 80);
    r->url = (secure ? "https://" : "http://") + host + ":" + std::to_string(port) + path;
    if (referrer) r->referrer = referrer;
    std::string accept;
    for (const char* const* t = acceptTypes; t && *t; ++t)
      accept += (accept.empty() ? "" : ", ") + std::string(*t);
    r->headers.emplace_back("accept", accept.empty() ? "Accept:" : "Accept: " + accept);
    return static_cast<Handle*>(r);
  }

  bool addHeaders(InetHandle request, const std::string& headers, uint32_t modifiers) override {
    auto* r = as<Request>(request, Handle::Kind::Request);
    if (!r) return false;
    size_t start = 0;
    while (start < headers.size()) {
      size_t end = headers.find('\n', start);
      if (end == std::string::npos) end = headers.size();
      std::string line = headers.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      start = end + 1;
      if (line.empty()) continue;
      if (line.find(':') == std::string::npos) return false;
      std::string name = lowerName(line);
      auto same = [&](const std::pair<std::string, std::string>& h) { return h.first == name; };
      if (modifiers & kHttpAddReqFlagReplace)
        r->headers.erase(std::remove_if(r->headers.begin(), r->headers.end(), same), r->headers.end());
      r->headers.emplace_back(name, line);
    }
    return true;
  }

  bool setOption(InetHandle handle, uint32_t option, const void* buffer, uint32_t length) override {
    if (handle && buffer && isTimeout(option)) return setTimeout(static_cast<Handle*>(handle), option, buffer, length);
    auto* r = as<Request>(handle, Handle::Kind::Request);
    if (!r || !buffer) return false;
    switch (option) {
    case kInetOptionSecurityFlags:
      if (length < sizeof(uint32_t)) return false;
      std::memcpy(&r->securityFlags, buffer, sizeof(uint32_t));
      return true;
    case kInetOptionProxyUsername: r->proxyUser = textOption(buffer, length); return true;
    case kInetOptionProxyPassword: r->proxyPassword = textOption(buffer, length); return true;
    default: return false;
    }
  }

  bool queryOption(InetHandle handle, uint32_t option, void* buffer, uint32_t* length) override {
    if (handle && buffer && isTimeout(option) && *length >= sizeof(uint32_t)) {
      uint32_t ms = timeout(static_cast<Handle*>(handle), option);
      std::memcpy(buffer, &ms, sizeof ms);
      *length = sizeof ms;
      return true;
    }
    auto* r = as<Request>(handle, Handle::Kind::Request);
    if (!r || !buffer || option != kInetOptionSecurityFlags || *length < sizeof(uint32_t)) return false;
    std::memcpy(buffer, &r->securityFlags, sizeof(uint32_t));
    *length = sizeof(uint32_t);
    return true;
  }

  bool send(InetHandle request) override {
    auto* r = as<Request>(request, Handle::Kind::Request);
    if (!r) return false;
    // A send on a request that was sent before starts the transfer afresh (WinINet's resend).
    if (r->added) curl_multi_remove_handle(r->multi, r->easy);
    r->added = false;
    r->sent = r->headersDone = r->finished = r->paused = false;
    r->result = CURLE_OK;
    r->sendError = kInetErrorOperationCancelled;
    r->body.clear();
    r->bodyPos = 0;
    if (r->aborted.load(std::memory_order_acquire)) return false;
    configure(r);
    if (curl_multi_add_handle(r->multi, r->easy) != CURLM_OK) {
      r->sendError = kInetErrorInvalidServerResponse;
      return false;
    }
    r->added = true;
    drive(r, [r] { return r->headersDone; });
    // A transfer that broke off after the final headers still counts as sent: the failure shows
    // in read, as with WinINet.
    if (r->finished && r->result != CURLE_OK && !r->headersDone) {
      r->sendError = winInetError(r, r->result);
      return false;
    }
    if (r->finished) r->headersDone = true; // an answer without a body
    r->sent = r->headersDone;
    r->sendError = r->sent ? 0 : kInetErrorInvalidServerResponse;
    return r->sent;
  }

  uint32_t sendError(InetHandle request) override {
    auto* r = as<Request>(request, Handle::Kind::Request);
    return r ? r->sendError : 0;
  }

  bool statusCode(InetHandle request, uint32_t* code) override {
    auto* r = as<Request>(request, Handle::Kind::Request);
    if (!r || !r->sent) return false;
    *code = responseCode(r);
    return true;
  }

  bool contentLength(InetHandle request, uint64_t* length) override {
    auto* r = as<Request>(request, Handle::Kind::Request);
    curl_off_t declared = -1;
    if (!r || !r->sent || curl_easy_getinfo(r->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) != CURLE_OK ||
        declared < 0)
      return false;
    *length = static_cast<uint64_t>(declared);
    return true;
  }

  bool read(InetHandle request, void* buffer, uint32_t size, uint32_t* count) override {
    *count = 0;
    auto* r = as<Request>(request, Handle::Kind::Request);
    if (!r || !r->sent) return false;
    if (r->aborted.load(std::memory_order_acquire)) return false;
    if (size == 0) return true;
    while (r->buffered() == 0) {
      if (r->finished) return r->result == CURLE_OK; // the end of the body, or the transfer failed
      if (r->paused) {
        r->paused = false;
        curl_easy_pause(r->easy, CURLPAUSE_CONT); // may hand over the held bytes at once
        continue;
      }
      drive(r, [r] { return r->buffered() > 0; });
    }
    size_t n = std::min<size_t>(size, r->buffered());
    std::memcpy(buffer, r->body.data() + r->bodyPos, n);
    r->bodyPos += n;
    *count = static_cast<uint32_t>(n);
    return true;
  }

  bool close(InetHandle handle) override {
    if (!handle) return false;
    delete static_cast<Handle*>(handle);
    return true;
  }

  bool abort(InetHandle request) override {
    Shared& s = shared();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (Request* r : s.live)
      if (static_cast<InetHandle>(static_cast<Handle*>(r)) == request) {
        r->aborted.store(true, std::memory_order_release);
        curl_multi_wakeup(r->multi); // a live request has its multi handle (enrolled last)
        return true;
      }
    return false;
  }

  bool abortAll(uint32_t waitMs) override {
    Shared& s = shared();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.aborted = true;
    for (Request* r : s.live) {
      r->aborted.store(true, std::memory_order_release);
      if (r->multi) curl_multi_wakeup(r->multi); // safe from any thread; the request cannot go away under the lock
    }
    return s.idle.wait_for(lock, std::chrono::milliseconds(waitMs), [&s] { return s.alive == 0; });
  }
};

} // namespace

Internet& systemInternet() {
  static Internet* internet = new CurlInternet; // never destroyed: see the header
  return *internet;
}

} // namespace platform
