#include "update_worker.h"

#include <cctype>
#include <climits>
#include <vector>

#include "archive_reader.h"
#include "http_client.h"
#include "platform/files.h"
#include "setup.h"
#include "version_check.h"

namespace formwell {

namespace {

constexpr int kPiece = 16384;
// filesize.txt holds a number; anything longer is no size file.
constexpr size_t kSizeBodyLimit = 4096;

// A client that remembers whether any of its calls failed, so that a read that ends in a
// failure is told apart from the end of the body (both give 0).
class CheckedClient : public CHttpClient {
public:
  explicit CheckedClient(platform::Internet& internet) : CHttpClient(internet) {}
  bool failed() const { return failed_; }

protected:
  void traceFailure(const std::string&, long, int, const std::string&, const std::string&) override { failed_ = true; }

private:
  bool failed_ = false;
};

bool success(uint32_t status) { return status >= 200 && status < 300; }

// The Internet layer as the worker sees it: every call goes to the real layer, and the job knows
// each request that is open, so that a cancel aborts exactly this update's transfer (the rest of
// the process keeps its Internet layer). A request is closed under the job's lock, so a cancel
// never aborts a handle that is going away.
class JobInternet : public platform::Internet {
public:
  JobInternet(UpdateJob& job, platform::Internet& real) : job_(job), real_(real) {}

  platform::InetHandle open(const std::string& agent, platform::InetAccess access, const char* proxy) override {
    return real_.open(agent, access, proxy);
  }
  platform::InetHandle connect(platform::InetHandle session, const std::string& host, uint16_t port, const char* user,
                               const char* password, platform::InetService service, uint32_t flags) override {
    return real_.connect(session, host, port, user, password, service, flags);
  }
  uint32_t attemptConnect() override { return real_.attemptConnect(); }
  platform::InetHandle openRequest(platform::InetHandle connection, const std::string& verb, const std::string& path,
                                   const std::string& version, const char* referrer, const char* const* acceptTypes,
                                   uint32_t flags) override {
    std::lock_guard<std::mutex> lock(job_.requestsMutex());
    platform::InetHandle request = real_.openRequest(connection, verb, path, version, referrer, acceptTypes, flags);
    if (request && !job_.addRequest(request)) { // cancelled: no new transfer
      real_.close(request);
      return nullptr;
    }
    return request;
  }
  bool addHeaders(platform::InetHandle request, const std::string& headers, uint32_t modifiers) override {
    return real_.addHeaders(request, headers, modifiers);
  }
  bool setOption(platform::InetHandle handle, uint32_t option, const void* buffer, uint32_t length) override {
    return real_.setOption(handle, option, buffer, length);
  }
  bool queryOption(platform::InetHandle handle, uint32_t option, void* buffer, uint32_t* length) override {
    return real_.queryOption(handle, option, buffer, length);
  }
  bool send(platform::InetHandle request) override { return real_.send(request); }
  uint32_t sendError(platform::InetHandle request) override { return real_.sendError(request); }
  bool statusCode(platform::InetHandle request, uint32_t* code) override { return real_.statusCode(request, code); }
  bool contentLength(platform::InetHandle request, uint64_t* length) override {
    return real_.contentLength(request, length);
  }
  bool read(platform::InetHandle request, void* buffer, uint32_t size, uint32_t* count) override {
    return real_.read(request, buffer, size, count);
  }
  bool close(platform::InetHandle handle) override {
    std::lock_guard<std::mutex> lock(job_.requestsMutex());
    job_.removeRequest(handle);
    return real_.close(handle);
  }
  bool abort(platform::InetHandle request) override { return real_.abort(request); }
  bool abortAll(uint32_t waitMs) override { return real_.abortAll(waitMs); }

private:
  UpdateJob& job_;
  platform::Internet& real_;
};

} // namespace

bool UpdateJob::cancel() {
  UpdateState working = UpdateState::kWorking;
  if (!state_.compare_exchange_strong(working, UpdateState::kCancelled, std::memory_order_acq_rel))
    return working != UpdateState::kInstalling; // kInstalling runs to its end
  std::lock_guard<std::mutex> lock(requestsMutex_);
  aborted_ = true;
  for (platform::InetHandle request : requests_)
    internet->abort(request); // a read waiting on a silent server returns at once
  return true;
}

bool UpdateJob::beginInstalling() {
  UpdateState working = UpdateState::kWorking;
  return state_.compare_exchange_strong(working, UpdateState::kInstalling, std::memory_order_acq_rel);
}

// Both called with requestsMutex() held.
bool UpdateJob::addRequest(platform::InetHandle request) {
  if (aborted_) return false;
  requests_.insert(request);
  return true;
}

void UpdateJob::removeRequest(platform::InetHandle request) { requests_.erase(request); }

int64_t parsePackageSize(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT64_MAX / 100) return 0; // beyond any package: no usable size
  }
  return negative ? 0 : value;
}

int downloadProgress(int64_t received, int64_t total) {
  if (total <= 0 || received <= 0) return 0;
  if (received >= total) return 100;
  return static_cast<int>(received * 100 / total); // total is bounded by parsePackageSize
}

int64_t fetchPackageSize(platform::Internet& internet, const std::string& baseUrl) {
  CheckedClient client(internet);
  std::string body;
  if (client.openUrl(baseUrl + "filesize.txt", nullptr, nullptr, kUserAgent)) {
    // An error page is no size, whatever digits it begins with ("404 Not Found").
    if (client.sendGet(client.path(), nullptr) && success(client.statusCode())) {
      std::vector<char> buf(kPiece);
      while (body.size() < kSizeBodyLimit) {
        int got = client.read(buf.data(), kPiece);
        if (got <= 0) break;
        body.append(buf.data(), static_cast<size_t>(got));
      }
    }
    client.close();
  }
  if (client.failed()) return 0;
  return parsePackageSize(body.substr(0, body.find('\0')));
}

int downloadToFile(platform::Internet& internet, const std::string& url, const std::string& path, UpdateView& view,
                   int64_t total, const UpdateJob& job) {
  CheckedClient client(internet);
  if (!client.openUrl(url, nullptr, nullptr, kUserAgent)) return -1;
  bool complete = false;
  {
    platform::OutFile file;
    // A fresh file that only this process holds: whatever lay at path before (a part of an
    // earlier attempt, or a link planted there) is not written through.
    platform::removeFile(path);
    if (!file.createNew(path)) return -1;
    if (client.sendGet(client.path(), nullptr) && success(client.statusCode())) {
      std::vector<char> buf(kPiece);
      int64_t received = 0;
      bool writeFailed = false;
      while (!job.cancelled()) {
        int got = client.read(buf.data(), kPiece);
        if (got <= 0) break;
        if (!file.write(buf.data(), static_cast<size_t>(got))) { // a full disk ends the update
          writeFailed = true;
          break;
        }
        received += got;
        if (!job.cancelled()) view.setProgress(downloadProgress(received, total));
      }
      // The whole body: no failed read, the length the answer declared (bodyComplete), and the
      // size that filesize.txt announced.
      complete = !writeFailed && !client.failed() && client.bodyComplete() &&
                 !job.cancelled() && (total == 0 || received == total);
    }
    // A full disk may show only when the file is closed.
    if (!file.close()) complete = false;
  }
  client.close();
  if (!complete) {
    platform::removeFile(path);
    return -1;
  }
  return 1;
}

bool packageSigned(platform::Internet& internet, const std::string& url, const std::string& path, const UpdateKey& key,
                   const std::string& version) {
  // table.zip.sig: a DER signature of P-256 is at most 72 bytes, so 4 KiB is plenty. statement.txt
  // beside it binds the package's bytes to the version that will be recorded, so an older signed
  // package served under a higher version.txt is refused.
  std::string signature, statement;
  std::string base = url.substr(0, url.rfind('/') + 1);
  return fetchSmallFile(internet, signatureFileName(url), kSizeBodyLimit, signature) &&
         verifyFileSignature(path, signature, key) &&
         fetchSmallFile(internet, base + kStatementFileName, kStatementLimit, statement) &&
         statementCoversPackage(statement, version, path, key);
}

bool isZipPackage(const std::string& path) {
  CArchiveReader reader;
  if (!reader.open(path)) return false;
  bool zip = reader.kind() == CArchiveReader::kZip && reader.getFileCount() > 0;
  reader.close();
  return zip;
}

void updateWorker(UpdateJob& job, UpdateView& view) {
  job.start();
  JobInternet internet(job, *job.internet);
  auto go = [&job] { return !job.cancelled(); };
  platform::makeSurePathExists(job.folder);
  std::string archive = job.folder + "tm.zip";
  // The download lands beside tm.zip and takes its place only once it is known to be whole, so
  // a failed update leaves the package installed before, and its archive, as they were.
  std::string part = archive + ".part";
  if (go()) view.setStatus(kEntryDownloading);
  std::string url = job.baseUrl + "table.zip";
  bool ok = false;
  if (go()) {
    int64_t total = fetchPackageSize(internet, job.baseUrl);
    if (go()) ok = downloadToFile(internet, url, part, view, total, job) == 1;
  }
  if (go()) {
    view.setStatus(kEntryDownloaded);
    for (int p = 10; p <= 50; p += 10)
      view.setProgress(p);
  }
  // A build with an update key takes only a package that the key's owner signed, and checks it
  // before the archive is even opened.
  if (ok && job.key && job.key->present) ok = go() && packageSigned(internet, url, part, *job.key, job.version);
  if (ok) ok = isZipPackage(part);
  if (ok && job.beforeCommit) job.beforeCommit();
  // The one step from which a cancel no longer stops the update: either the dialog cancelled
  // first, and the new package never takes tm.zip's place, or the installation begins and runs
  // to its end, whoever asks to leave meanwhile.
  if (!ok || !job.beginInstalling()) {
    platform::removeFile(part);
    bool show = go();
    // Finished before start is enabled again, so that a click on it finds the worker done.
    job.finish();
    if (show) {
      view.setStatus(kEntryFailed);
      view.enableStart(true);
      view.enableRun(false);
    }
    view.done();
    return;
  }
  // The mark names the new package before it takes tm.zip's place, so a start after a crash
  // anywhere from here on completes this installation (or finds that it never began).
  ok = job.setup->beginInstall(job.folder, job.version, part) == 1;
  if (ok && !platform::replaceFile(part, archive)) {
    job.setup->abandonInstall(job.folder);
    ok = false;
  }
  if (!ok) platform::removeFile(part);
  // Unpacks, records the version and clears the mark; a failure has shown its text, given the old
  // files back and dropped the mark, and the version recorded before stays.
  if (ok) ok = job.setup->completeInstall(archive, job.folder, job.version) == 1;
  job.finish();
  if (ok) {
    for (int p = 60; p <= 100; p += 10)
      view.setProgress(p);
    view.setStatus(kEntryUpdated);
    view.enableStart(false);
    view.enableRun(true);
  } else {
    view.setStatus(kEntryFailed);
    view.enableStart(true);
    view.enableRun(false);
  }
  view.done();
}

} // namespace formwell
