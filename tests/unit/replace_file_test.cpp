// The atomic floor: what a replace leaves at the target and beside it.
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/replace_file.h"
#include "test_util.h"

#ifdef _WIN32
#include <thread>
#include <vector>
#include <windows.h>
#define getpid GetCurrentProcessId
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using Prepare = std::function<void(const fs::path&)>;

static std::string slurp(const fs::path& p) {
  std::string s;
  return platform::readFile(p.string(), &s) ? s : "-";
}
static void put(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

TEST(AtomicFile, TheTargetHoldsTheWholeNewContentOrTheOldOneAndNoTemporaryStays) {
  const Prepare old = [](const fs::path& d) { put(d / "json.sav", "old"); };
  [[maybe_unused]] const auto linkAt = [](std::string name) -> Prepare { // no links on Windows here
    return [name](const fs::path& d) { fs::create_symlink(d / "../outside", d / name); };
  };
  const struct {
    const char* what;
    Prepare before;
    bool ok;
    std::string target;
    bool commit = true, failWrites = false;
  } cases[] = {
      {"a new file", [](const fs::path&) {}, true, "new content"},
      {"an existing file", old, true, "new content"},
      {"a folder at the target", [](const fs::path& d) { fs::create_directory(d / "json.sav"); }, false, "-"},
      {"discarded", old, false, "old", false},
#ifndef _WIN32
      {"a link at the target", linkAt("json.sav"), false, "<link>"},
      {"a link at the name the temporary had", linkAt("json.sav.tmp." + std::to_string(getpid())), true, "new content"},
      {"a write that fails as on a full disk", old, false, "old", true, true},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testutil::TempDir root;
    const fs::path dir = root.path() / "program";
    fs::create_directory(dir);
    put(root.path() / "outside", "outside");
    c.before(dir);
#ifndef _WIN32
    struct rlimit was;
    ::getrlimit(RLIMIT_FSIZE, &was), std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit small = {4, was.rlim_max}; // no byte past the fourth can be written
    if (c.failWrites) ::setrlimit(RLIMIT_FSIZE, &small);
#endif
    platform::AtomicFile file;
    bool ok = file.open((dir / "json.sav").string()) && file.write("new ", 4) && file.write("content", 7);
    ok = c.commit ? file.commit() && ok : (file.discard(), false); // a failed write fails the commit
#ifndef _WIN32
    ::setrlimit(RLIMIT_FSIZE, &was);
#endif
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(slurp(root.path() / "outside"), "outside");
    EXPECT_EQ(fs::is_symlink(dir / "json.sav") ? "<link>" : slurp(dir / "json.sav"), c.target);
    for (const auto& e : fs::recursive_directory_iterator(root.path()))
      EXPECT_NE(e.path().filename().string().rfind(".fwtmp.", 0), 0u) << e.path();
  }
}

#ifndef _WIN32
TEST(AtomicFile, ANewFileIsPrivateAndAnExistingOneKeepsItsModeAndOwner) {
  const uid_t other = 65534; // with othersFolder, the folder and any existing file are this user's
  const struct {
    const char* what;
    int existingMode, newFileMode;
    mode_t expect;
    bool othersFolder;
  } cases[] = {
      {"a new file", -1, 0600, 0600, false},
      {"an existing file made private by its user", 0600, 0600, 0600, false},
      {"a new program file", -1, 0755, 0755, false},
      {"root writing a new file into a user's folder", -1, 0600, 0600, true},
      {"root replacing a user's file", 0640, 0600, 0640, true},
  };
  ::umask(022);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.othersFolder && ::geteuid() != 0) continue; // only root may give a file away
    testutil::TempDir dir;
    const std::string path = (dir.path() / "json.sav").string();
    if (c.existingMode >= 0) put(path, "old"), ::chmod(path.c_str(), static_cast<mode_t>(c.existingMode));
    if (c.othersFolder) ::chown(dir.path().c_str(), other, other), ::chown(path.c_str(), other, other);
    platform::AtomicFile file;
    EXPECT_TRUE(file.open(path, c.newFileMode) && file.write("new", 3) && file.commit());
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expect);
    EXPECT_EQ(st.st_uid, c.othersFolder ? other : ::geteuid());
  }
}
#endif

TEST(AtomicFile, StaleTemporariesOfEndedProcessesGoAndOthersStay) {
  const std::string own = std::to_string(getpid()), ended = "999999996"; // no process has this id
  const std::pair<std::string, bool> names[] = {{".fwtmp." + own + ".0123456789abcdef", true},
                                                {".fwtmp." + ended + ".0123456789abcdef", false},
                                                {"json.sav.tmp." + ended, false},
                                                {"json.sav", true},
                                                {"notes.tmp.txt", true},
                                                {".fwtmp." + ended + ".0123456789abcdeg", true}};
  testutil::TempDir dir;
  for (const auto& n : names)
    put(dir.path() / n.first, "personal data");
  platform::AtomicFile live; // a replace under way in this process keeps its temporary, and lands
  ASSERT_TRUE(live.open((dir.path() / "json_ac.sav").string()) && live.write("data", 4));
  platform::removeStaleTemporaries(dir.str());
  for (const auto& n : names)
    EXPECT_EQ(fs::exists(dir.path() / n.first), n.second) << n.first;
  EXPECT_TRUE(live.commit());
  EXPECT_EQ(slurp(dir.path() / "json_ac.sav"), "data");
}

#ifdef _WIN32
// A scanner may hold a fresh file longer than the two seconds we once waited: a hold is waited out,
// a denial that lasts fails at once. All cases run side by side, so the table takes one hold's time.
TEST(AtomicFile, AFileHeldForAMomentIsReplacedOnceLetGoAndALastingDenialFailsAtOnce) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE, kHold = 3000; // longer than the old two seconds
  enum What { kTarget, kSource, kDeletePending, kReadOnlyTarget };
  const struct {
    const char* what;
    bool floor; // AtomicFile (replaceFileContents), else replaceFile
    What held;
    DWORD sharing;
    bool ok;
  } cases[] = {
      {"floor: target held without sharing deletion", true, kTarget, share, true},
      {"floor: target held sharing deletion (Windows refuses it as a denial)", true, kTarget, share | FILE_SHARE_DELETE, true},
      {"floor: target deleted while held (delete pending)", true, kDeletePending, share | FILE_SHARE_DELETE, true},
      {"floor: read-only target, held: a lasting denial", true, kReadOnlyTarget, share | FILE_SHARE_DELETE, false},
      {"replaceFile: target held without sharing deletion", false, kTarget, share, true},
      {"replaceFile: the new file held", false, kSource, FILE_SHARE_READ, true},
  };
  testutil::TempDir dir;
  struct Result {
    bool ok = false;
    DWORD took = 0;
  };
  std::vector<Result> results(std::size(cases));
  std::vector<std::thread> runs;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const std::string target = dir.str() + std::to_string(i) + ".sav", next = target + ".next";
    put(target, "old"), put(next, "new");
    if (c.held == kReadOnlyTarget) SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileA((c.held == kSource ? next : target).c_str(), GENERIC_READ, c.sharing, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.what;
    if (c.held == kDeletePending) {
      ASSERT_TRUE(DeleteFileA(target.c_str())) << c.what;
    }
    runs.emplace_back([&c, &r = results[i], h, target, next, kHold] {
      std::thread scanner([h, kHold] { Sleep(kHold), CloseHandle(h); }); // the scanner lets go
      DWORD start = GetTickCount();
      r.ok = c.floor ? platform::replaceFileContents(target, "new", 3) : platform::replaceFile(next, target);
      r.took = GetTickCount() - start;
      scanner.join();
    });
  }
  for (auto& run : runs)
    run.join();
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.what);
    const std::string target = dir.str() + std::to_string(i) + ".sav";
    EXPECT_EQ(results[i].ok, c.ok);
    EXPECT_EQ(slurp(target), c.ok ? "new" : "old");
    if (c.ok) {
      EXPECT_GE(results[i].took, kHold - 100); // it could only pass once let go
    } else {
      EXPECT_LT(results[i].took, 1500u); // not after a wait for nothing
    }
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}
#endif
