// The atomic floor: what a replace leaves at the target and beside it.
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/replace_file.h"
#include "test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::string s;
  return platform::readFile(p.string(), &s) ? s : "<none>";
}

void put(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

int temporaries(const fs::path& dir) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(dir))
    n += e.path().filename().string().rfind(".fwtmp.", 0) == 0;
  return n;
}

long ownPid() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

const long kEndedPid = 999999996; // above Linux's pid_max; no Windows process has it either

} // namespace

TEST(AtomicFile, TheTargetHoldsTheWholeNewContentOrTheOldOneAndNoTemporaryStays) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& dir)> before;
    bool expectOk;
    std::string expectTarget;
    bool failWrites = false;
    bool commit = true;
  };
  const Case cases[] = {
      {"a new file", [](const fs::path&) {}, true, "new content"},
      {"an existing file", [](const fs::path& d) { put(d / "json.sav", "old"); }, true, "new content"},
      {"a folder at the target", [](const fs::path& d) { fs::create_directory(d / "json.sav"); }, false, "<none>"},
      {"the folder is missing", [](const fs::path& d) { fs::remove_all(d); }, false, "<none>"},
      {"not committed", [](const fs::path& d) { put(d / "json.sav", "old"); }, false, "old", false, false},
#ifndef _WIN32
      {"a link at the target",
       [](const fs::path& d) { fs::create_symlink(d.parent_path() / "outside", d / "json.sav"); }, false, "outside"},
      {"a link planted at the name the temporary had",
       [](const fs::path& d) {
         fs::create_symlink(d.parent_path() / "outside", d / ("json.sav.tmp." + std::to_string(ownPid())));
       },
       true, "new content"},
      {"a write that fails", [](const fs::path& d) { put(d / "json.sav", "old"); }, false, "old", true},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testutil::TempDir root;
    const fs::path dir = root.path() / "program";
    fs::create_directory(dir);
    put(root.path() / "outside", "outside");
    c.before(dir);
    bool ok;
    {
      platform::AtomicFile file;
#ifndef _WIN32
      struct rlimit old;
      ::getrlimit(RLIMIT_FSIZE, &old);
      void (*oldHandler)(int) = c.failWrites ? std::signal(SIGXFSZ, SIG_IGN) : nullptr;
      struct rlimit small = {4, old.rlim_max};
      if (c.failWrites) ::setrlimit(RLIMIT_FSIZE, &small); // writes past 4 bytes fail as on a full disk
#endif
      ok = file.open((dir / "json.sav").string()) && file.write("new ", 4) && file.write("content", 7) &&
           c.commit && file.commit();
#ifndef _WIN32
      if (c.failWrites) {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
      }
#endif
    }
    EXPECT_EQ(ok, c.expectOk);
    EXPECT_EQ(slurp(root.path() / "outside"), "outside");
    if (fs::is_symlink(dir / "json.sav")) {
      EXPECT_EQ(fs::read_symlink(dir / "json.sav"), root.path() / "outside");
    } else {
      EXPECT_EQ(slurp(dir / "json.sav"), c.expectTarget);
    }
    if (fs::exists(dir)) {
      EXPECT_EQ(temporaries(dir), 0);
    }
  }
}

#ifndef _WIN32
TEST(AtomicFile, ANewFileIsPrivateAndAnExistingOneKeepsItsModeAndOwner) {
  const uid_t other = 65534;
  struct Case {
    const char* what;
    int existingMode; // -1: no file yet
    int newFileMode;
    mode_t umask;
    mode_t expectMode;
    bool othersFolder = false; // the folder (or the existing file) belongs to another user
  };
  const Case cases[] = {
      {"a new file", -1, 0600, 022, 0600},
      {"an existing file made private by its user", 0600, 0600, 022, 0600},
      {"an existing file of mode 0640", 0640, 0600, 022, 0640},
      {"a new program file", -1, 0755, 022, 0755},
      {"a new file under a strict mask", -1, 0644, 077, 0600},
      {"root writing a new file into a user's folder", -1, 0600, 022, 0600, true},
      {"root replacing a user's file", 0640, 0600, 022, 0640, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.othersFolder && ::geteuid() != 0) continue; // only root may give a file away
    testutil::TempDir dir;
    const std::string path = (dir.path() / "json.sav").string();
    if (c.othersFolder) {
      ASSERT_EQ(::chown(dir.path().c_str(), other, other), 0);
    }
    if (c.existingMode >= 0) {
      put(path, "old");
      ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(c.existingMode)), 0);
      if (c.othersFolder) {
        ASSERT_EQ(::chown(path.c_str(), other, other), 0);
      }
    }
    const mode_t oldMask = ::umask(c.umask);
    platform::AtomicFile file;
    const bool ok = file.open(path, c.newFileMode) && file.write("new", 3) && file.commit();
    ::umask(oldMask);
    ASSERT_TRUE(ok);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expectMode);
    EXPECT_EQ(st.st_uid, c.othersFolder ? other : ::geteuid());
  }
}
#endif

TEST(AtomicFile, StaleTemporariesOfEndedProcessesGoAndOthersStay) {
  const std::string own = std::to_string(ownPid()), ended = std::to_string(kEndedPid);
  struct Case {
    std::string name;
    bool stays;
  };
  const Case cases[] = {
      {".fwtmp." + own + ".0123456789abcdef", true},
      {".fwtmp." + ended + ".0123456789abcdef", false},
      {"json.sav.tmp." + ended, false},
      {"HKEY_LOCAL_MACHINE.reg.tmp." + ended, false},
      {"json.sav.tmp." + own, true},
      {"json.sav", true},
      {"notes.tmp.txt", true},
      {".fwtmp." + ended + ".short", true},
      {".fwtmp." + ended + ".0123456789abcdeg", true},
  };
  testutil::TempDir dir;
  for (const Case& c : cases)
    put(dir.path() / c.name, "personal data");
  // A replace under way in this process keeps its temporary, and still lands.
  platform::AtomicFile live;
  ASSERT_TRUE(live.open((dir.path() / "json_ac.sav").string()));
  ASSERT_TRUE(live.write("data", 4));
  platform::removeStaleTemporaries(dir.str());
  for (const Case& c : cases)
    EXPECT_EQ(fs::exists(dir.path() / c.name), c.stays) << c.name;
  EXPECT_TRUE(live.commit());
  EXPECT_EQ(slurp(dir.path() / "json_ac.sav"), "data");
}

#ifdef _WIN32
// A file that another program holds open for a moment is replaced once it is let go.
TEST(AtomicFile, AFileHeldForAMomentIsReplacedOnceLetGo) {
  struct Case {
    const char* what;
    std::function<bool(const std::string& target, const std::string& dir)> replace;
  };
  const Case cases[] = {
      {"replaceFileContents", [](const std::string& t, const std::string&) {
         return platform::replaceFileContents(t, "new", 3);
       }},
      {"replaceFile", [](const std::string& t, const std::string& d) {
         put(d + "new.tmp", "new");
         return platform::replaceFile(d + "new.tmp", t);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testutil::TempDir dir;
    const std::string target = dir.str() + "json.sav";
    put(target, "old");
    std::promise<void> held;
    std::thread holder([&] {
      HANDLE h = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      held.set_value();
      Sleep(300); // the scanner's moment
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    });
    held.get_future().wait();
    const bool ok = c.replace(target, dir.str());
    holder.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(slurp(target), "new");
  }
}
#endif
