// The version check: which package version the update servers offer. The internal server is
// asked first and given 2000 ms; only when it gave nothing is the public server asked, for
// 3500 ms. Start-up clears versionCheckDone, runs selectUpdateServer on a worker thread and
// reads serverVersion and updateBaseUrl once it has seen versionCheckDone raised.
// Each value has one writer (the selection thread); versionCheckDone is raised with release
// after the texts are final and must be read with acquire.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "package_signature.h"
#include "platform/internet.h"

namespace formwell {

// Base URL of the server in use, ending in "/": the internal one when it answered, else the
// public one (also when neither answered). Like serverVersion, never destroyed, so that a
// thread of the check that is still running at exit writes into live memory.
extern std::string& updateBaseUrl;
// The server's version: versionFromBody of its version.txt; empty when no server answered, its
// body broke off, or what it sent is no version.
extern std::string& serverVersion;
extern std::atomic<int> versionCheckDone;

// The user agent every request of the kit carries.
extern const char kUserAgent[];
// The most of version.txt that is read: a server that never stops sending is cut here.
constexpr size_t kVersionBodyLimit = 64 * 1024;
// The longest version that counts. It is recorded in the registry, whose values are read back
// through a 256-byte buffer, and a statement states at most 32 characters: anything longer is
// no version (an update under it could never be recorded).
constexpr size_t kVersionTextLimit = 64;

// The version that a body of version.txt gives: the text up to its first NUL, without the
// blanks, tabs, CRs and LFs around it (an editor's line break is no part of the version). Empty,
// that is no version, when that holds any other control character or is longer than
// kVersionTextLimit.
std::string versionFromBody(const std::string& body);

// Where and how long to ask. The defaults are the build's settings (FORMWELL_INTERNAL_UPDATE_URL,
// FORMWELL_PUBLIC_UPDATE_URL) and the machine's Internet layer.
struct UpdateServers {
  std::string internalUrl;
  std::string publicUrl;
  uint32_t internalLimitMs = 2000;
  uint32_t publicLimitMs = 3500;
  // Shared with every fetch thread, so a fetch that outlives its wait still finds it.
  std::shared_ptr<platform::Internet> internet;
  // The program's update key (defaults: the one compiled in). With a key present, a server's
  // version counts only when its statement (kStatementFileName) is signed by the key for exactly
  // that version and this platform;
  // otherwise the server gave nothing. Null or no key: any version counts.
  const UpdateKey* key = nullptr;

  static UpdateServers defaults();
};

// One fetch's own result text and done flag. A waiter and its fetch thread share it; a fetch
// that is given up keeps it alive by itself, so its late answer lands in its own block and
// never in a later fetch's values, and nothing it touches is freed under it.
struct VersionFetch {
  std::string url; // the base URL, read when the fetch starts
  std::shared_ptr<platform::Internet> internet;
  const UpdateKey* key = nullptr; // lives for the whole process
  std::string result;
  std::atomic<int> done{0};
};

// The selection thread's procedure: param is a const UpdateServers* or null for the defaults;
// the servers are copied at once. Returns 0.
unsigned selectUpdateServer(const void* param);

// A fetch thread's procedure: version.txt under fetch->url into fetch->result (empty unless a
// whole body came with a 2xx status; one cut at kVersionBodyLimit counts as whole; then
// versionFromBody; with a key, empty unless the statement beside it is signed for that version),
// then fetch->done raised.
void fetchVersion(std::shared_ptr<VersionFetch> fetch);

// Starts the fetch on a new thread and waits up to limitMs, polling every 100 ms; returns its
// result, or the empty text when it has not finished in time (it is left to run).
std::string waitForVersion(const std::shared_ptr<VersionFetch>& fetch, uint32_t limitMs);

// The whole body of a small file at url into body: true only for a 2xx answer whose body arrived
// complete and holds at most limit bytes.
bool fetchSmallFile(platform::Internet& internet, const std::string& url, size_t limit, std::string& body);

// Milliseconds from a fixed point, wrapping like the system's tick count.
uint32_t tickCount();

// Start-up's way to run the check: clears versionCheckDone and starts selectUpdateServer on a
// worker thread with a copy of servers (null: the build's defaults).
void startVersionCheck(const UpdateServers* servers = nullptr);

// The end of start-up (and of anything else that fetched), before the process exits: aborts
// every transfer in flight through the Internet layer (which takes no new ones afterwards),
// then waits up to waitMs until a check started by startVersionCheck has finished and no
// thread is inside the layer, so that none runs inside a library that the exit tears down.
// True when everything ended in time.
bool endNetworkActivity(platform::Internet& internet = platform::systemInternet(), uint32_t waitMs = 200);

} // namespace formwell
