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
TEST(AtomicFile, AFileHeldForAMomentIsReplacedOnceLetGo) {
  testutil::TempDir dir;
  const std::string target = dir.str() + "json.sav", next = dir.str() + "next";
  for (bool floor : {true, false}) {
    put(target, "old"), put(next, "new");
    HANDLE h = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    std::thread scanner([h] { Sleep(300), CloseHandle(h); }); // a scanner holds the file for a moment
    EXPECT_TRUE(floor ? platform::replaceFileContents(target, "new", 3) : platform::replaceFile(next, target));
    scanner.join();
    EXPECT_EQ(slurp(target), "new");
  }
}
#endif
