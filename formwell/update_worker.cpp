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

} // namespace

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
                   int64_t total, const std::atomic<bool>& cancelled) {
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
      while (!cancelled.load(std::memory_order_acquire)) {
        int got = client.read(buf.data(), kPiece);
        if (got <= 0) break;
        if (!file.write(buf.data(), static_cast<size_t>(got))) { // a full disk ends the update
          writeFailed = true;
          break;
        }
        received += got;
        if (!cancelled.load(std::memory_order_acquire)) view.setProgress(downloadProgress(received, total));
      }
      // The whole body: no failed read, the length the answer declared (bodyComplete), and the
      // size that filesize.txt announced.
      complete = !writeFailed && !client.failed() && client.bodyComplete() &&
                 !cancelled.load(std::memory_order_acquire) && (total == 0 || received == total);
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
  auto go = [&job] { return !job.cancelled.load(std::memory_order_acquire); };
  platform::makeSurePathExists(job.folder);
  std::string archive = job.folder + "tm.zip";
  // The download lands beside tm.zip and takes its place only once it is known to be whole, so
  // a failed update leaves the package installed before, and its archive, as they were.
  std::string part = archive + ".part";
  if (go()) view.setStatus(kEntryDownloading);
  std::string url = job.baseUrl + "table.zip";
  bool ok = false;
  if (go()) {
    int64_t total = fetchPackageSize(*job.internet, job.baseUrl);
    if (go()) ok = downloadToFile(*job.internet, url, part, view, total, job.cancelled) == 1;
  }
  if (go()) {
    view.setStatus(kEntryDownloaded);
    for (int p = 10; p <= 50; p += 10)
      view.setProgress(p);
  }
  // A build with an update key takes only a package that the key's owner signed, and checks it
  // before the archive is even opened.
  if (ok && job.key && job.key->present) ok = go() && packageSigned(*job.internet, url, part, *job.key, job.version);
  if (ok) ok = isZipPackage(part);
  if (ok && go()) {
    ok = platform::replaceFile(part, archive);
  } else {
    ok = false;
  }
  if (!ok) platform::removeFile(part);
  // Unpacking starts only while the dialog is still there; once started it runs to its end so
  // that the program folder is never left half old, half new without the version saying so.
  if (ok && go()) {
    ok = job.setup->extractArchive(archive, job.folder) == 1;
    if (ok) job.setup->writeInstalledVersion(job.version);
  } else {
    ok = false;
  }
  if (go()) {
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
  }
  job.finished.store(true, std::memory_order_release);
}

} // namespace formwell
