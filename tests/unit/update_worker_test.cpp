// The update worker against a scripted Internet layer and a real temporary program folder:
// the size text, the progress, and which packages count as arrived.
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

#include "archive_builder.h"
#include "fake_internet.h"
#include "fake_registry.h"
#include "platform/files.h"
#include "setup.h"
#include "test_util.h"
#include "update_worker.h"

using archtest::ZipEntry;
using formwell::UpdateJob;

namespace {

const char kFormwellKey[] = "software\\orvanta\\formwell";

// Answers each path with its own status and body; a path it does not know gets a 404 page.
class FileServer : public testutil::FakeInternet {
public:
  struct File {
    uint32_t status;
    std::string body;
  };
  std::map<std::string, File> files;
  std::vector<std::string> paths;

  platform::InetHandle openRequest(platform::InetHandle connection, const std::string& verb, const std::string& path,
                                   const std::string& version, const char* referrer, const char* const* acceptTypes,
                                   uint32_t flags) override {
    paths.push_back(path);
    auto it = files.find(path);
    File f = it == files.end() ? File{404, "<html>404 Not Found</html>"} : it->second;
    status = f.status;
    body = f.body;
    return FakeInternet::openRequest(connection, verb, path, version, referrer, acceptTypes, flags);
  }
};

// A registry that can refuse every write (a hive that cannot be written) and tells of each write.
class WatchedRegistry : public testutil::FakeRegistry {
public:
  bool refuse = false;
  std::function<void()> onWrite;
  bool setValue(platform::RegHandle key, const std::string& name, uint32_t type, const void* data,
                uint32_t size) override {
    if (onWrite) onWrite();
    return !refuse && FakeRegistry::setValue(key, name, type, data, size);
  }
};

class NoLauncher : public platform::ProcessLauncher {
public:
  bool replacesThroughCommandInterpreter() const override { return false; }
  std::string moduleShortPath() override { return ""; }
  std::string environmentVariable(const std::string&) override { return ""; }
  bool shellExecuteHidden(const std::string&, const std::string&, const std::string&,
                          platform::StartedProcess*) override {
    return false;
  }
  void setPriorityClass(platform::StartedProcess, uint32_t) override {}
  void setOwnPriority(uint32_t, int) override {}
  void notifyShellDeleted(const std::string&) override {}
  bool replaceFileAfterExit(const std::string&, const std::string&) override { return false; }
};

// Writes down every call, as "status 18", "progress 40", "start 1", "run 0".
class RecordingView : public formwell::UpdateView {
public:
  std::vector<std::string> calls;
  std::vector<int> progress;
  std::function<void()> onProgress;
  void setStatus(int entry) override { calls.push_back("status " + std::to_string(entry)); }
  void setProgress(int percent) override {
    calls.push_back("progress " + std::to_string(percent));
    progress.push_back(percent);
    if (onProgress) onProgress();
  }
  void enableStart(bool on) override { calls.push_back(std::string("start ") + (on ? "1" : "0")); }
  void enableRun(bool on) override { calls.push_back(std::string("run ") + (on ? "1" : "0")); }
  std::string last(size_t n) const {
    std::string s;
    for (size_t i = calls.size() >= n ? calls.size() - n : 0; i < calls.size(); ++i)
      s += calls[i] + (i + 1 < calls.size() ? "; " : "");
    return s;
  }
};

// Bytes that do not compress, so the package is as large as its content.
std::string noise(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

std::string slurp(const std::string& path) {
  std::string s;
  if (!platform::readFile(path, &s)) return "<missing>";
  return s;
}

class UpdateWorkerTest : public ::testing::Test {
protected:
  void SetUp() override {
    folder = dir.str() + "Formwell/";
    platform::makeSurePathExists(folder);
    platform::OutFile old;
    ASSERT_TRUE(old.createAlways(folder + "tm.zip") && old.write("the package installed before", 28));
    old.close();
    registry.set(kFormwellKey, "currentversion", "2.0.0.3");
    configure(job);
    package = archtest::buildZip({ZipEntry("eb_df/", ""), ZipEntry("eb_df/index.html", noise(70000)),
                                  ZipEntry("loader.exe", "the next formwell")});
  }
  void configure(UpdateJob& j) {
    j.baseUrl = "http://127.0.0.1:8080/table/";
    j.version = "2.0.0.8";
    j.folder = folder;
    j.internet = &server;
    j.setup = &setup;
  }
  void serve(const std::string& size, const std::string& zip, uint32_t status = 200) {
    server.files["/table/filesize.txt"] = {200, size};
    server.files["/table/table.zip"] = {status, zip};
  }
  void expectFailedAndUntouched(const RecordingView& view) {
    EXPECT_EQ(view.last(4), "progress 50; status 21; start 1; run 0");
    EXPECT_EQ(slurp(folder + "tm.zip"), "the package installed before");
    EXPECT_FALSE(platform::pathExists(folder + "tm.zip.part"));
    EXPECT_FALSE(platform::pathExists(folder + "loader.exe"));
    EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.3");
    EXPECT_TRUE(job.finished());
  }

  testutil::TempDir dir;
  std::string folder;
  WatchedRegistry registry;
  NoLauncher launcher;
  std::vector<std::string> messages;
  CSetup setup{registry, launcher, [this](const std::string& t) { messages.push_back(t); }};
  FileServer server;
  UpdateJob job;
  std::string package;
};

TEST(PackageSize, ReadsLeadingDigitsLikeStrtolAndNothingElse) {
  struct Case {
    const char* text;
    int64_t size;
  } cases[] = {
      {"2197228", 2197228},
      {"  42 bytes\n", 42},
      {"+7", 7},
      {"bytes 42", 0},
      {"", 0},
      {"-5", 0},
      {"12abc34", 12},
      {"0x10", 0},
      {"\t\n 9", 9},
      {"99999999999999999999999", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(formwell::parsePackageSize(c.text), c.size) << '"' << c.text << '"';
}

TEST(DownloadProgress, NeverDividesByZeroAndStaysWithin0To100) {
  struct Case {
    int64_t received, total;
    int percent;
  } cases[] = {
      {0, 0, 0},     {5000, 0, 0},    {25, 50, 50}, {60, 50, 100},  {1, 99, 1},
      {99, 100, 99}, {100, 100, 100}, {0, 100, 0},  {150, 300, 50}, {5000000000LL, 10000000000LL, 50},
      {-3, 100, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(formwell::downloadProgress(c.received, c.total), c.percent) << c.received << " of " << c.total;
}

TEST_F(UpdateWorkerTest, WholePackageIsUnpackedRecordedAndShownAsUpdated) {
  serve(std::to_string(package.size()), package);
  server.piece = 10000; // several reads, so the progress moves during the download
  RecordingView view;
  formwell::updateWorker(job, view);

  EXPECT_EQ(view.calls.front(), "status 18");
  // During the download the progress rises to 100 and never beyond; then 10..50, 60..100.
  std::vector<int> during(view.progress.begin(), view.progress.end() - 10);
  ASSERT_GE(during.size(), 3u);
  for (size_t i = 1; i < during.size(); ++i)
    EXPECT_LE(during[i - 1], during[i]);
  EXPECT_EQ(during.back(), 100);
  EXPECT_EQ(view.last(15), "progress 100; status 19; progress 10; progress 20; progress 30; progress 40; progress 50; "
                           "progress 60; progress 70; progress 80; progress 90; progress 100; status 24; start 0; "
                           "run 1");
  EXPECT_EQ(slurp(folder + "tm.zip"), package);
  EXPECT_EQ(slurp(folder + "loader.exe"), "the next formwell");
  EXPECT_FALSE(platform::pathExists(folder + "tm.zip.part"));
  EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.8");
  EXPECT_EQ(server.paths, (std::vector<std::string>{"/table/filesize.txt", "/table/table.zip"}));
  EXPECT_TRUE(job.finished());
}

TEST_F(UpdateWorkerTest, WithoutAnnouncedSizeTheProgressStaysAtZeroAndTheUpdateStillWorks) {
  for (const char* size : {"", "unknown", "404"}) {
    serve(size, package);
    if (std::string(size) == "404") server.files["/table/filesize.txt"] = {404, "404 Not Found"};
    server.piece = 4096;
    RecordingView view;
    formwell::updateWorker(job, view);
    std::vector<int> during(view.progress.begin(), view.progress.end() - 10);
    for (int p : during)
      EXPECT_EQ(p, 0) << size;
    EXPECT_EQ(view.last(3), "status 24; start 0; run 1") << size;
  }
}

TEST_F(UpdateWorkerTest, PackagesThatDidNotArriveWholeFailAndKeepTheOldArchive) {
  struct Case {
    const char* what;
    std::string size;
    std::string body;
    uint32_t status;
  } cases[] = {
      {"empty", "0", "", 200},
      {"empty with a size", "1000", "", 200},
      {"truncated", std::to_string(package.size()), package.substr(0, package.size() / 2), 200},
      {"longer than announced", std::to_string(package.size() - 1), package, 200},
      {"404 page", "", "<html>404 Not Found</html>", 404},
      {"404 with the package", std::to_string(package.size()), package, 404},
      {"server error", "", package, 500},
      {"not a ZIP", "", "<html>maintenance</html>", 200},
      {"gzip, no ZIP", "", archtest::gzipMember("a gzip stream"), 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    serve(c.size, c.body, c.status);
    RecordingView view;
    formwell::updateWorker(job, view);
    expectFailedAndUntouched(view);
  }
}

TEST_F(UpdateWorkerTest, ConnectionOrTransferFailuresFailTheUpdate) {
  serve(std::to_string(package.size()), package);
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    server.connectFails = kind == 0;
    server.sendResults = {kind != 1};
    server.readFails = kind == 2;
    RecordingView view;
    formwell::updateWorker(job, view);
    expectFailedAndUntouched(view);
  }
}

TEST_F(UpdateWorkerTest, AFailureCanBeFollowedByASuccessfulRetry) {
  serve("", "<html>busy</html>", 503);
  RecordingView first;
  formwell::updateWorker(job, first);
  expectFailedAndUntouched(first);
  serve(std::to_string(package.size()), package);
  RecordingView second;
  formwell::updateWorker(job, second);
  EXPECT_EQ(second.last(3), "status 24; start 0; run 1");
  EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.8");
}

TEST_F(UpdateWorkerTest, LeavingTheDialogDuringTheDownloadStopsEverythingAfterIt) {
  serve(std::to_string(package.size()), package);
  server.piece = 1000;
  RecordingView view;
  int reads = 0;
  view.onProgress = [&] {
    if (++reads == 3) {
      EXPECT_TRUE(job.cancel());
    }
  };
  formwell::updateWorker(job, view);
  // Nothing is shown after the third piece, nothing recorded, nothing unpacked.
  EXPECT_EQ(view.calls.size(), 4u) << view.last(10);
  EXPECT_EQ(slurp(folder + "tm.zip"), "the package installed before");
  EXPECT_FALSE(platform::pathExists(folder + "tm.zip.part"));
  EXPECT_FALSE(platform::pathExists(folder + "loader.exe"));
  EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.3");
  EXPECT_TRUE(job.finished());
}

TEST_F(UpdateWorkerTest, CancelledBeforeItStartsTheWorkerTouchesNothing) {
  serve(std::to_string(package.size()), package);
  EXPECT_TRUE(job.cancel());
  RecordingView view;
  formwell::updateWorker(job, view);
  EXPECT_TRUE(view.calls.empty());
  EXPECT_TRUE(server.paths.empty());
  EXPECT_EQ(slurp(folder + "tm.zip"), "the package installed before");
  EXPECT_TRUE(job.finished());
}

#ifndef _WIN32
// A write that fails (here: beyond the file size limit, as on a full disk) fails the update.
TEST_F(UpdateWorkerTest, AFailedWriteFailsTheUpdate) {
  serve(std::to_string(package.size()), package);
  server.piece = 16384;
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 20000;
  setrlimit(RLIMIT_FSIZE, &small);
  RecordingView view;
  formwell::updateWorker(job, view);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  expectFailedAndUntouched(view);
}
#endif

// A cancel either comes before the commit, and then the new package never takes tm.zip's place,
// or after it, and then the installation runs to its end: tm.zip and the recorded version always
// belong together.
TEST_F(UpdateWorkerTest, ACancelStopsTheUpdateBeforeItsCommitOrWaitsForTheInstallation) {
  serve(std::to_string(package.size()), package);
  server.piece = 10000;
  enum Where { kDownload, kAfterLastCheck, kRecording };
  struct Case {
    const char* what;
    Where where;
    bool takesEffect;
  } cases[] = {
      {"during the download", kDownload, true},
      {"after the last check", kAfterLastCheck, true},
      {"while the version is recorded", kRecording, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    archtest::writeBytes(platform::nativePath(folder + "tm.zip"), "the package installed before");
    registry.set(kFormwellKey, "currentversion", "2.0.0.3");
    platform::removeFile(folder + "loader.exe");
    UpdateJob j;
    configure(j);
    int answers = 0;
    bool answer = false;
    auto cancel = [&] {
      if (answers++ == 0) answer = j.cancel();
    };
    RecordingView view;
    if (c.where == kDownload) view.onProgress = cancel;
    if (c.where == kAfterLastCheck) j.beforeCommit = cancel;
    if (c.where == kRecording) registry.onWrite = cancel;
    formwell::updateWorker(j, view);
    registry.onWrite = nullptr;
    EXPECT_EQ(answer, c.takesEffect);
    EXPECT_TRUE(j.finished());
    if (c.takesEffect) {
      EXPECT_EQ(slurp(folder + "tm.zip"), "the package installed before");
      EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.3");
      EXPECT_FALSE(platform::pathExists(folder + "loader.exe"));
      EXPECT_EQ(view.calls.back().compare(0, 8, "progress"), 0) << view.last(3); // nothing shown after
    } else {
      EXPECT_EQ(slurp(folder + "tm.zip"), package);
      EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.8");
      EXPECT_EQ(view.last(3), "status 24; start 0; run 1");
    }
    EXPECT_FALSE(platform::pathExists(folder + "tm.zip.part"));
  }
}

// A version that cannot be recorded is no update: entry 21, the old version stays recorded, and
// the mark stays, so the next start completes the installation once the registry takes it.
TEST_F(UpdateWorkerTest, AVersionThatCannotBeRecordedFailsTheUpdate) {
  serve(std::to_string(package.size()), package);
  registry.refuse = true;
  RecordingView view;
  formwell::updateWorker(job, view);
  EXPECT_EQ(view.last(3), "status 21; start 1; run 0");
  EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.3");
  // The files of the version before came back and the mark is gone: the next start goes on with
  // that version, and the update is offered again.
  registry.refuse = false;
  EXPECT_EQ(setup.finishPendingInstall(folder), 1);
  EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.3");
  EXPECT_NE(slurp(folder + "loader.exe"), "the next formwell");
}

} // namespace
