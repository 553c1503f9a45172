#include "version_check.h"

#include <chrono>
#include <thread>
#include <vector>

#include "http_client.h"

#ifndef FORMWELL_INTERNAL_UPDATE_URL
#define FORMWELL_INTERNAL_UPDATE_URL "http://127.0.0.1:8080/table/"
#endif
#ifndef FORMWELL_PUBLIC_UPDATE_URL
#define FORMWELL_PUBLIC_UPDATE_URL "https://127.0.0.1:8443/ccs/table/"
#endif

namespace formwell {

std::string& updateBaseUrl = *new std::string;
std::string& serverVersion = *new std::string;
std::atomic<int> versionCheckDone{0};

const char kUserAgent[] = "Mozilla/4.0 (compatible; )";

namespace {

constexpr auto kPoll = std::chrono::milliseconds(100);

// Selection threads started by startVersionCheck that have not ended yet.
std::atomic<int> selectionsRunning{0};
// Raised by endNetworkActivity: the selection thread asks no further server.
std::atomic<bool> networkEnding{false};

// The machine's layer lives for the whole process; the shared pointer only lends it.
std::shared_ptr<platform::Internet> machineInternet() {
  return std::shared_ptr<platform::Internet>(&platform::systemInternet(), [](platform::Internet*) {});
}

std::shared_ptr<VersionFetch> newFetch(const std::string& baseUrl, const UpdateServers& servers) {
  auto fetch = std::make_shared<VersionFetch>();
  fetch->url = baseUrl;
  fetch->internet = servers.internet;
  fetch->key = servers.key;
  return fetch;
}

} // namespace

uint32_t tickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

UpdateServers UpdateServers::defaults() {
  UpdateServers s;
  s.internalUrl = FORMWELL_INTERNAL_UPDATE_URL;
  s.publicUrl = FORMWELL_PUBLIC_UPDATE_URL;
  s.internet = machineInternet();
  s.key = &updatePublicKey();
  return s;
}

void fetchVersion(std::shared_ptr<VersionFetch> fetch) {
  std::string body;
  {
    CHttpClient client(*fetch->internet);
    if (client.openUrl(fetch->url + "version.txt", nullptr, nullptr, kUserAgent)) {
      // An error page is no version, whatever its body says.
      if (client.sendGet(client.path(), nullptr) && client.statusCode() >= 200 && client.statusCode() < 300) {
        std::vector<char> buf(16384);
        bool whole = false;
        while (body.size() < kVersionBodyLimit) {
          int want = static_cast<int>(std::min(buf.size(), kVersionBodyLimit - body.size()));
          int got = client.read(buf.data(), want);
          if (got <= 0) {
            whole = got == 0 && client.bodyComplete();
            break;
          }
          body.append(buf.data(), static_cast<size_t>(got));
        }
        // A body that broke off is no version: "2.0." is not "2.0.0.7". One that reached the
        // bound was cut here on purpose and is taken as far as it goes.
        if (!whole && body.size() < kVersionBodyLimit) body.clear();
      }
      client.close();
    }
  }
  std::string version = versionFromBody(body);
  // With a key, version.txt alone is anyone's word: only a version that the key's owner signed is
  // one, so an older signed package served under a higher number is never offered.
  if (!version.empty() && fetch->key && fetch->key->present) {
    std::string statement;
    if (!fetchSmallFile(*fetch->internet, fetch->url + kStatementFileName, kStatementLimit, statement) ||
        !statementCoversVersion(statement, version, *fetch->key))
      version.clear();
  }
  fetch->result = version;
  fetch->done.store(1, std::memory_order_release);
}

std::string versionFromBody(const std::string& body) {
  std::string text = body.substr(0, body.find('\0'));
  const char* const kAround = " \t\r\n";
  size_t first = text.find_first_not_of(kAround);
  if (first == std::string::npos) return std::string();
  text = text.substr(first, text.find_last_not_of(kAround) - first + 1);
  if (text.size() > kVersionTextLimit) return std::string();
  // A control character inside (a CR between two lines, an escape, a tab) makes the text no
  // version: it would be recorded and shown as it is.
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::string();
  return text;
}

bool fetchSmallFile(platform::Internet& internet, const std::string& url, size_t limit, std::string& body) {
  CHttpClient client(internet);
  bool whole = false;
  body.clear();
  if (client.openUrl(url, nullptr, nullptr, kUserAgent)) {
    if (client.sendGet(client.path(), nullptr) && client.statusCode() >= 200 && client.statusCode() < 300) {
      std::vector<char> buf(4096);
      int got;
      while (body.size() <= limit && (got = client.read(buf.data(), static_cast<int>(buf.size()))) > 0)
        body.append(buf.data(), static_cast<size_t>(got));
      whole = body.size() <= limit && client.bodyComplete();
    }
    client.close();
  }
  return whole;
}

std::string waitForVersion(const std::shared_ptr<VersionFetch>& fetch, uint32_t limitMs) {
  fetch->done.store(0, std::memory_order_relaxed);
  uint32_t start = tickCount();
  std::thread(fetchVersion, fetch).detach();
  for (;;) {
    if (fetch->done.load(std::memory_order_acquire)) return fetch->result;
    if (tickCount() - start >= limitMs)
      return fetch->done.load(std::memory_order_acquire) ? fetch->result : std::string();
    std::this_thread::sleep_for(kPoll);
  }
}

unsigned selectUpdateServer(const void* param) {
  UpdateServers servers = param ? *static_cast<const UpdateServers*>(param) : UpdateServers::defaults();
  if (!servers.internet) servers.internet = machineInternet();

  updateBaseUrl = servers.internalUrl;
  serverVersion = waitForVersion(newFetch(updateBaseUrl, servers), servers.internalLimitMs);
  if (serverVersion.empty() && !networkEnding.load(std::memory_order_acquire)) {
    updateBaseUrl = servers.publicUrl;
    serverVersion = waitForVersion(newFetch(updateBaseUrl, servers), servers.publicLimitMs);
  }
  if (serverVersion.empty()) updateBaseUrl = servers.publicUrl; // also when the end came first
  versionCheckDone.store(1, std::memory_order_release);
  return 0;
}

void startVersionCheck(const UpdateServers* servers) {
  UpdateServers copy = servers ? *servers : UpdateServers::defaults();
  versionCheckDone.store(0, std::memory_order_relaxed);
  selectionsRunning.fetch_add(1, std::memory_order_acq_rel); // before the thread exists
  std::thread([copy] {
    selectUpdateServer(&copy);
    selectionsRunning.fetch_sub(1, std::memory_order_acq_rel);
  }).detach();
}

bool endNetworkActivity(platform::Internet& internet, uint32_t waitMs) {
  networkEnding.store(true, std::memory_order_release);
  uint32_t start = tickCount();
  // The fetch threads' sends and reads return at once; each then closes its handles and ends.
  bool idle = internet.abortAll(waitMs);
  // The selection thread notices its fetch's end at its next poll and asks no other server.
  while (selectionsRunning.load(std::memory_order_acquire) != 0) {
    if (tickCount() - start >= waitMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return idle;
}

} // namespace formwell
