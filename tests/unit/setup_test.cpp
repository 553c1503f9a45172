#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <map>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "archive_builder.h"
#include "archive_reader.h"
#include "child_process.h"
#include "fake_registry.h"
#include "gbconv.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/resources.h"
#include "platform/user_folders.h"
#include "setup.h"
#include "test_util.h"

namespace fs = std::filesystem;
using archtest::ZipEntry;

namespace {

// Records what replaceSelf asks of the system.
class FakeLauncher : public platform::ProcessLauncher {
public:
  bool replacesThroughCommandInterpreter() const override { return windowsWay; }
  std::string moduleShortPath() override { return shortPath; }
  std::string environmentVariable(const std::string& name) override { return name == "COMSPEC" ? comspec : ""; }
  bool shellExecuteHidden(const std::string& program, const std::string& verb, const std::string& parameters,
                          platform::StartedProcess* started) override {
    calls.push_back("start " + program + " | " + verb + " | " + parameters);
    *started = reinterpret_cast<platform::StartedProcess>(0x1234);
    return startWorks;
  }
  void setPriorityClass(platform::StartedProcess p, uint32_t cls) override {
    calls.push_back("child " + std::to_string(reinterpret_cast<uintptr_t>(p)) + " " + std::to_string(cls));
  }
  void setOwnPriority(uint32_t cls, int thread) override {
    calls.push_back("own " + std::to_string(cls) + " " + std::to_string(thread));
  }
  void notifyShellDeleted(const std::string& path) override { calls.push_back("deleted " + path); }
  bool replaceFileAfterExit(const std::string& source, const std::string& target) override {
    calls.push_back("replace " + source + " | " + target);
    return true;
  }

  bool windowsWay = true;
  bool startWorks = true;
  std::string shortPath = "C:\\PROGRA~1\\FORMWELL.EXE";
  std::string comspec = "C:\\windows\\system32\\cmd.exe";
  std::vector<std::string> calls;
};

std::string slurp(const std::string& path) {
  std::string s;
  platform::readFile(path, &s);
  return s;
}

const char kFormwellKey[] = "software\\orvanta\\formwell";

// Each test gets a temporary folder; on Linux the real registry's hives and the data folder
// (CommonFilesDir) live in it too.
class SetupTest : public ::testing::Test {
protected:
  void SetUp() override {
#ifndef _WIN32
    testutil::setEnv("XDG_CONFIG_HOME", dir.str() + "config");
    testutil::setEnv("XDG_DATA_HOME", dir.str() + "data dir");
#endif
  }
  std::string file(const std::string& name, const std::string& bytes) {
    std::string path = dir.str() + name;
    archtest::writeBytes(path, bytes);
    return path;
  }
  CSetup withFakes() {
    return CSetup(registry, launcher, [this](const std::string& t) { messages.push_back(t); });
  }

  testutil::TempDir dir;
  testutil::FakeRegistry registry;
  FakeLauncher launcher;
  std::vector<std::string> messages;
};

} // namespace

// The program folder is decided once per process: the machine's when this process can write it
// (and the version's key), else the user's own, with the version under HKEY_CURRENT_USER.
TEST_F(SetupTest, ProgramFolderIsTheMachinesWhenWritableElseTheUsersOwn) {
  std::string fallback = platform::wideToAnsi(platform::utf8ToWide("Velor服务平台自助申请软件\\"));
#ifdef _WIN32
  fallback = "d:\\" + fallback;
  bool fallbackWritable = platform::pathKind("d:\\") == platform::PathKind::kFolder;
#else
  fallback = std::string(std::getenv("HOME")) + "\\" + fallback;
  bool fallbackWritable = true;
#endif
  std::string own = platform::localAppDataFolder() + "\\Formwell\\";
  archtest::writeBytes(dir.str() + "a file", "not a folder");
  struct {
    const char* commonFiles; // below the test's folder; nullptr: no value
    std::string folder;
    bool machine;
  } cases[] = {
      {"common", dir.str() + "common\\Formwell\\", true},
      {nullptr, fallbackWritable ? fallback : own, fallbackWritable},
      {"", fallbackWritable ? fallback : own, fallbackWritable}, // an empty value counts as missing
      {"a file\\common", own, false},                         // no folder can be made there
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commonFiles ? c.commonFiles : "(none)");
    testutil::FakeRegistry reg;
    if (c.commonFiles)
      reg.set("software\\microsoft\\windows\\currentversion", "CommonFilesDir",
              *c.commonFiles ? dir.str() + c.commonFiles : std::string());
    CSetup s(reg, launcher, [](const std::string&) {});
    EXPECT_EQ(s.programFolder(), c.folder);
    EXPECT_EQ(s.programFolderExists(), 0); // the question made no folder
    EXPECT_EQ(s.writeInstalledVersion("2.0.0.1"), 1);
    platform::RegRoot where = c.machine ? platform::RegRoot::LocalMachine : platform::RegRoot::CurrentUser;
    platform::RegRoot other = c.machine ? platform::RegRoot::CurrentUser : platform::RegRoot::LocalMachine;
    EXPECT_EQ(reg.get(kFormwellKey, "currentversion", where), "2.0.0.1");
    EXPECT_EQ(reg.get(kFormwellKey, "currentversion", other), "<none>");
    EXPECT_EQ(s.readInstalledVersion(), "2.0.0.1");
  }
  fs::create_directories(dir.path() / "common" / "Formwell");
  registry.set("software\\microsoft\\windows\\currentversion", "CommonFilesDir", dir.str() + "common");
  EXPECT_EQ(withFakes().programFolderExists(), 1);
}

TEST_F(SetupTest, RealRegistryGivesTheProgramFolderAndKeepsTheInstalledVersion) {
  CSetup s(platform::systemRegistry(), launcher, [](const std::string&) {});
  std::string folder = s.programFolder();
  ASSERT_GE(folder.size(), 10u);
  EXPECT_EQ(folder.substr(folder.size() - 10), "\\Formwell\\");
#ifndef _WIN32
  EXPECT_EQ(folder, dir.str() + "data dir\\Formwell\\");
#endif
  EXPECT_EQ(s.writeInstalledVersion("2.0.0.3"), 1);
  EXPECT_EQ(s.readInstalledVersion(), "2.0.0.3");
  EXPECT_EQ(s.writeInstalledVersion("1.0.0.0"), 1);
  EXPECT_EQ(s.readInstalledVersion(), "1.0.0.0");
}

TEST_F(SetupTest, InstalledVersionIsWrittenWithoutTerminatorAndReadAtMost256Bytes) {
  CSetup s = withFakes();
  EXPECT_EQ(s.readInstalledVersion(), ""); // no key
  EXPECT_EQ(s.writeInstalledVersion("2.0.0.1"), 1);
  EXPECT_EQ(registry.get(kFormwellKey, "currentversion"), "2.0.0.1");
  EXPECT_EQ(registry.createdWithAccess, 0x2001Fu);
  std::string full(256, '7');
  s.writeInstalledVersion(full);
  EXPECT_EQ(s.readInstalledVersion(), full); // fills the buffer: still read as exactly that text
  s.writeInstalledVersion(full + "7");
  EXPECT_EQ(s.readInstalledVersion(), ""); // does not fit: as if absent
}

TEST_F(SetupTest, WritesTheProgramsOwnResourceToAFile) {
  CSetup s = withFakes();
  std::string out = dir.str() + "res.bin";
  ASSERT_EQ(s.writeResourceToFile(out, 7, "testdata"), 1); // type names without regard to case
  EXPECT_EQ(slurp(out), "resource bytes\nwith a second line\n");
  ASSERT_EQ(s.writeResourceToFile(out, 8, "TESTDATA"), 1); // no such resource: an empty file
  EXPECT_EQ(slurp(out), "");
  EXPECT_EQ(s.writeResourceToFile(dir.str() + "no\\such\\folder\\res.bin", 7, "TESTDATA"), 0);
}

TEST_F(SetupTest, CarriedPackageInstallsInItsMemberOrderAndRecordsTheVersion) {
  CSetup s = withFakes();
  std::string folder = dir.str() + "Formwell\\";
  platform::makeSurePathExists(folder);
  ASSERT_EQ(s.writeResourceToFile(folder + "tm.zip", CSetup::kPackageResourceId, CSetup::kPackageResourceType), 1);
  ASSERT_EQ(s.installPackage(folder + "tm.zip", folder), 1);
  EXPECT_EQ(s.readInstalledVersion(), "1.0.0.0");
  EXPECT_TRUE(fs::exists(dir.path() / "Formwell" / "tm.zip"));
  EXPECT_TRUE(messages.empty());
  // The members in the package's order, folders ahead of their contents.
  CArchiveReader reader;
  ASSERT_EQ(reader.open(folder + "tm.zip"), 1);
  std::vector<std::string> top;
  int n = reader.getFileCount();
  for (int i = 0; i < n; ++i) {
    const unsigned char* data;
    uint32_t size;
    int isFile;
    std::string name;
    ASSERT_EQ(reader.getFile(i, &data, &size, &isFile, &name), 1);
    std::string first = name.substr(0, name.find('/') == std::string::npos ? name.size() : name.find('/') + 1);
    if (top.empty() || top.back() != first) top.push_back(first);
    if (name.back() != '/') {
      EXPECT_TRUE(fs::is_regular_file(dir.path() / "Formwell" / fs::path(name).make_preferred())) << name;
      EXPECT_EQ(fs::file_size(dir.path() / "Formwell" / fs::path(name).make_preferred()), size) << name;
    }
  }
  std::vector<std::string> expected{"eb_df/", "qrencode/"};
  if (std::find(top.begin(), top.end(), "formdesk.exe") != top.end()) expected.push_back("formdesk.exe");
#ifdef _WIN32
  expected.push_back("gbconv.dll");
#else
  expected.push_back("libgbconv.so");
#endif
  expected.push_back("eb_ac/");
  EXPECT_EQ(top, expected);
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "Formwell" / "eb_df" / "index.html"));
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "Formwell" / "eb_ac" / "index.html"));
  // The default form is the assembled one, with its page libraries, never a placeholder page.
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "Formwell" / "eb_df" / "js" / "jquery.min.js"));
  EXPECT_EQ(slurp(dir.str() + "Formwell/eb_df/index.html").find("arrives with a later version"), std::string::npos);
#ifdef _WIN32
  // The encoder that Windows gets is a program that runs where it was unpacked, with no library
  // beside it.
  std::string qr = dir.str() + "Formwell/qrencode/qrencode.exe";
  ASSERT_TRUE(fs::exists(qr));
  EXPECT_EQ(fs::directory_iterator(dir.path() / "Formwell" / "qrencode")->path().filename(), "qrencode.exe");
  EXPECT_EQ(testutil::runProgram(qr, {"-o", dir.str() + "qr.png", "-l", "H", "formwell"}), 0);
  EXPECT_GT(fs::file_size(dir.path() / "qr.png"), 0u);
#else
  // Linux carries no encoder: formdesk starts Debian's qrencode.
  EXPECT_TRUE(fs::is_directory(dir.path() / "Formwell" / "qrencode"));
  EXPECT_TRUE(fs::is_empty(dir.path() / "Formwell" / "qrencode"));
#endif
}

TEST_F(SetupTest, ExtractionOverwritesMembersLeavesOtherFilesAndTellsFoldersByTheMemberName) {
  CSetup s = withFakes();
  std::string zip = file("p.zip", archtest::buildZip({{"eb_df/", "", false},
                                                      {"eb_df/index.html", "new page"},
                                                      {"README", "no dot: a folder"},
                                                      {"empty.txt", ""},
                                                      {"gbconv.dll", "new library"}}));
  fs::create_directories(dir.path() / "dest" / "eb_df");
  archtest::writeBytes(dir.str() + "dest/eb_df/index.html", "old page, longer than the new one");
  archtest::writeBytes(dir.str() + "dest/keep.txt", "mine");
  ASSERT_EQ(s.extractArchive(zip, dir.str() + "dest"), 1);
  EXPECT_EQ(slurp(dir.str() + "dest/eb_df/index.html"), "new page");
  EXPECT_EQ(slurp(dir.str() + "dest/keep.txt"), "mine");
  EXPECT_TRUE(fs::is_directory(dir.path() / "dest" / "README"));
  EXPECT_TRUE(fs::is_regular_file(dir.path() / "dest" / "empty.txt"));
  EXPECT_EQ(fs::file_size(dir.path() / "dest" / "empty.txt"), 0u);
  EXPECT_EQ(slurp(dir.str() + "dest/gbconv.dll"), "new library");

  // A folder whose own path holds a dot (as "~/.local/share" does) changes nothing: folders
  // are still folders and every member is written.
  fs::create_directories(dir.path() / "v1.0");
  ASSERT_EQ(s.extractArchive(zip, dir.str() + "v1.0"), 1);
  EXPECT_EQ(slurp(dir.str() + "v1.0/eb_df/index.html"), "new page");
  EXPECT_TRUE(fs::is_directory(dir.path() / "v1.0" / "README"));
  EXPECT_EQ(slurp(dir.str() + "v1.0/gbconv.dll"), "new library");

  // A folder member whose name holds a dot is still a folder, and what it holds is written.
  std::string dotted = file(
      "d.zip", archtest::buildZip({{"js/", "", false}, {"js/jquery.ui/", "", false}, {"js/jquery.ui/ui.js", "ui"}}));
  ASSERT_EQ(s.extractArchive(dotted, dir.str() + "v1.0"), 1);
  EXPECT_EQ(slurp(dir.str() + "v1.0/js/jquery.ui/ui.js"), "ui");
  EXPECT_TRUE(messages.empty());
}

TEST_F(SetupTest, UnreadableEntryIsShownStopsTheExtractionAndLeavesTheVersion) {
  CSetup s = withFakes();
  s.writeInstalledVersion("2.0.0.3");
  ZipEntry bad{"b.txt", "bbbb"};
  bad.declaredCrc = 1;
  std::string zip = file("bad.zip", archtest::buildZip({{"a.txt", "aaaa"}, bad, {"c.txt", "cccc"}}));
  fs::create_directories(dir.path() / "dest");
  EXPECT_EQ(s.installPackage(zip, dir.str() + "dest"), 0);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Could not unzip file at the specified position from the archive !");
  EXPECT_FALSE(fs::exists(dir.path() / "dest" / "a.txt")); // nothing takes its place before all is read
  EXPECT_FALSE(fs::exists(dir.path() / "dest" / "b.txt"));
  EXPECT_FALSE(fs::exists(dir.path() / "dest" / "c.txt"));
  EXPECT_EQ(s.readInstalledVersion(), "2.0.0.3");
  // Not an archive at all: 0, and no message.
  messages.clear();
  EXPECT_EQ(s.extractArchive(dir.str() + "missing.zip", dir.str() + "dest"), 0);
  EXPECT_TRUE(messages.empty());
}

// A member that would leave the destination, that Windows reads as a device or a stream, or that
// bears a name of the installation's own or the customer's saved data makes the package one that
// cannot be installed: nothing of it is written, inside or outside the destination, and the
// failure is said once.
TEST_F(SetupTest, HostileOrReservedMemberNamesFailTheWholeExtraction) {
  CSetup s = withFakes();
  std::string stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  std::string evil = "formwell-evil-" + stamp + ".txt";
  std::vector<ZipEntry> hostile;
  for (const std::string& n : {"../" + evil, "a/../../" + evil, "./../" + evil, "sub/./../../" + evil,
                               (fs::temp_directory_path() / evil).generic_string(), "//host/" + evil,
                               "C:\\" + evil, "C:" + evil, "..\\..\\" + evil, "a\\..\\..\\" + evil,
                               std::string("ok.txt:stream"), std::string("a/nul.txt"), std::string("COM1"),
                               "a/.../" + evil, std::string("nul\0../../", 10) + evil,
                               // the installation's own names and the saved applications
                               std::string("install.pending"), std::string("TM.ZIP"), std::string("tm.zip.part"),
                               std::string("install.lock"), std::string(".Staging/0.txt"),
                               std::string(".backup/old/x.txt"), std::string("json.sav"), std::string("Json_AC.sav")})
    hostile.push_back({n, "evil"});
  // Folder members whose final path lies inside the destination, but whose way there does not:
  // relative, and to an absolute place of the archive's choosing through enough "..", with "/"
  // and "\" alike.
  std::string deep, root = dir.path().relative_path().generic_string() + "/";
  for (int i = 0; i < 40; ++i)
    deep += "../";
  for (char sep : {'/', '\\'}) {
    std::string tag = sep == '/' ? "slash" : "backslash";
    for (std::string folder :
         {"../formwell-evil-" + tag + "/../dest/x/", deep + root + "formwell-evil-abs-" + tag + "/../x/y/dest/z/",
          "/" + root + "formwell-evil-root-" + tag + "/../x/y/dest/z/"}) {
      for (char& c : folder)
        if (c == '/') c = sep;
      hostile.push_back({folder, "", false});
    }
  }
  fs::create_directories(dir.path() / "x" / "y" / "dest");
  for (const ZipEntry& e : hostile) {
    SCOPED_TRACE(e.name);
    messages.clear();
    std::string zip = file("evil.zip", archtest::buildZip({{"a/", "", false}, {"a/inside.txt", "good"}, e}));
    EXPECT_EQ(s.extractArchive(zip, dir.str() + "x\\y\\dest"), 0);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_FALSE(fs::exists(dir.path() / "x" / "y" / "dest" / "a" / "inside.txt"));
  }
  // Nothing anywhere under the temporary folder but the archive and the destination.
  for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
    std::string rel = fs::relative(e.path(), dir.path()).generic_string();
    bool expected = rel == "evil.zip" || rel == "x" || rel == "x/y" || rel == "x/y/dest" || rel.rfind("config", 0) == 0;
    EXPECT_TRUE(expected) << rel;
  }
  EXPECT_FALSE(fs::exists(fs::temp_directory_path() / evil));
  EXPECT_FALSE(fs::exists(fs::path("C:\\") / evil));
  EXPECT_FALSE(fs::exists(fs::current_path() / evil));
}

// Only a whole ZIP archive installs: a cut one (a full disk while writing tm.zip), an error page,
// a gzip or tar file fail and record nothing, so that the next start installs again.
TEST_F(SetupTest, CutOrForeignPackageFailsRecordsNothingAndALaterStartInstalls) {
  CSetup s = withFakes();
  std::string folder = dir.str() + "Formwell\\";
  platform::makeSurePathExists(folder);
  std::string archive = folder + "tm.zip";
  ASSERT_EQ(s.writeResourceToFile(archive, CSetup::kPackageResourceId, CSetup::kPackageResourceType), 1);
  std::string package = slurp(archive);
  ASSERT_GT(package.size(), 1000u);
  for (const auto& [what, bytes] : std::vector<std::pair<std::string, std::string>>{
           {"cut in half", package.substr(0, package.size() / 2)},
           {"cut before its end record", package.substr(0, package.size() - 30)},
           {"an error page", "<html><body>502 Bad Gateway</body></html>"},
           {"gzip", archtest::gzipMember(package)},
           {"tar inside gzip",
            archtest::gzipMember(archtest::tarEntry("eb_df/index.html", "page") + archtest::tarEnd())},
           {"empty", ""}}) {
    archtest::writeBytes(platform::nativePath(archive), bytes);
    EXPECT_EQ(s.installPackage(archive, folder), 0) << what;
    EXPECT_EQ(s.readInstalledVersion(), "") << what;
    EXPECT_FALSE(fs::exists(dir.path() / "Formwell" / "unknown")) << what;
  }
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(s.writeResourceToFile(archive, CSetup::kPackageResourceId, CSetup::kPackageResourceType), 1);
  ASSERT_EQ(s.installPackage(archive, folder), 1);
  EXPECT_EQ(s.readInstalledVersion(), "1.0.0.0");
}

#ifndef _WIN32
// A full disk, simulated with a file-size limit: writing the carried package fails and leaves no
// cut tm.zip; a member that cannot be written fails the extraction with its text and leaves the
// old file whole.
TEST_F(SetupTest, WritesThatFailFailTheInstallation) {
  struct Limit {
    explicit Limit(rlim_t bytes) {
      signal(SIGXFSZ, SIG_IGN);
      getrlimit(RLIMIT_FSIZE, &old);
      rlimit l = old;
      l.rlim_cur = bytes;
      setrlimit(RLIMIT_FSIZE, &l);
    }
    ~Limit() { setrlimit(RLIMIT_FSIZE, &old); }
    rlimit old;
  };
  CSetup s = withFakes();
  std::string folder = dir.str() + "Formwell\\";
  platform::makeSurePathExists(folder);
  std::string archive = folder + "tm.zip";
  {
    Limit limit(4096);
    EXPECT_EQ(s.writeResourceToFile(archive, CSetup::kPackageResourceId, CSetup::kPackageResourceType), 0);
  }
  EXPECT_FALSE(fs::exists(dir.path() / "Formwell" / "tm.zip"));
  EXPECT_EQ(s.installPackage(archive, folder), 0);
  EXPECT_EQ(s.readInstalledVersion(), "");

  std::string zip = file(
      "big.zip",
      archtest::buildZip({{"small.txt", "new small"}, {"big.bin", std::string(200000, 'n')}, {"after.txt", "after"}}));
  archtest::writeBytes(platform::nativePath(folder + "big.bin"), "old big");
  {
    Limit limit(100000);
    EXPECT_EQ(s.installPackage(zip, folder), 0);
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Could not write file " + dir.str() + "Formwell\\big.bin !");
  EXPECT_EQ(slurp(folder + "big.bin"), "old big");
  EXPECT_FALSE(fs::exists(dir.path() / "Formwell" / "small.txt"));
  EXPECT_FALSE(fs::exists(dir.path() / "Formwell" / "after.txt"));
  EXPECT_EQ(s.readInstalledVersion(), "");
  for (const auto& e : fs::directory_iterator(dir.path() / "Formwell"))
    EXPECT_EQ(e.path().filename().string().find(".new"), std::string::npos) << e.path();
  EXPECT_FALSE(fs::exists(dir.path() / "Formwell" / ".staging"));
}

// Links already in the program folder are never written through: not a linked folder on a
// member's way, nor a linked file at its place; and ZIP entries that are links themselves are never
// made. Each makes the installation fail whole: the files placed before it are given back.
TEST_F(SetupTest, LinksInTheFolderAndLinkEntriesFailTheInstallationAndGiveTheOldFilesBack) {
  CSetup s = withFakes();
  fs::create_directories(dir.path() / "outside");
  archtest::writeBytes(dir.str() + "outside/victim.txt", "mine");
  fs::create_directories(dir.path() / "dest" / "ok");
  archtest::writeBytes(dir.str() + "dest/ok/inside.txt", "old");
  fs::create_directory_symlink(dir.path() / "outside", dir.path() / "dest" / "link");
  fs::create_symlink(dir.path() / "outside" / "victim.txt", dir.path() / "dest" / "file.txt");
  ZipEntry linkEntry{"lnk.txt", "/etc/passwd", false};
  linkEntry.externalAttributes = 0120777u << 16;
  for (const std::vector<ZipEntry>& bad : std::vector<std::vector<ZipEntry>>{
           {{"link/", "", false}, {"link/x.txt", "through the link"}},
           {{"link/sub/", "", false}, {"link/sub/y.txt", "through the link"}},
           {{"file.txt", "over the link"}},
           {linkEntry}}) {
    SCOPED_TRACE(bad.back().name);
    messages.clear();
    std::vector<ZipEntry> entries{{"ok/inside.txt", "new"}, {"ok/added.txt", "new"}};
    entries.insert(entries.end(), bad.begin(), bad.end());
    EXPECT_EQ(s.extractArchive(file("links.zip", archtest::buildZip(entries)), dir.str() + "dest"), 0);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(slurp(dir.str() + "dest/ok/inside.txt"), "old");
    EXPECT_FALSE(fs::exists(dir.path() / "dest" / "ok" / "added.txt"));
  }
  std::vector<std::string> outside;
  for (const auto& e : fs::recursive_directory_iterator(dir.path() / "outside"))
    outside.push_back(e.path().filename().string());
  EXPECT_EQ(outside, std::vector<std::string>{"victim.txt"});
  EXPECT_EQ(slurp(dir.str() + "outside/victim.txt"), "mine");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "dest" / "file.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "dest" / "lnk.txt")));
  EXPECT_FALSE(fs::exists(dir.path() / "dest" / ".backup"));
}
#endif

// An installation that cannot be finished (a package whose members clash, a member refused on
// its way in, a version that does not reach the registry) gives the old installation back, drops
// its mark and says once what failed; the next start goes on with the old version.
TEST_F(SetupTest, AnInstallationThatCannotBeFinishedGivesTheOldOneBack) {
  class Unrecordable : public testutil::FakeRegistry {
  public:
    bool setValue(platform::RegHandle key, const std::string& name, uint32_t type, const void* data,
                  uint32_t size) override {
      return !refuse && FakeRegistry::setValue(key, name, type, data, size);
    }
    bool refuse = false;
  } reg;
  CSetup s(reg, launcher, [this](const std::string& t) { messages.push_back(t); });
  std::string folder = dir.str() + "Formwell\\", native = dir.str() + "Formwell/";
  struct {
    const char* what;
    std::vector<ZipEntry> package;
    std::function<void()> before;
  } cases[] = {
      {"a file and a folder of one name", {{"doc.txt", "new doc"}, {"doc.txt/part.txt", "clash"}}, [] {}},
#ifndef _WIN32
      {"a form folder that is a link",
       {{"eb_df/index.html", "new page"}},
       [&] {
         fs::rename(native + "eb_df", native + "eb_df.real");
         fs::create_directory_symlink(native + "eb_df.real", native + "eb_df");
       }},
#endif
      {"a version that is not recorded", {{"zz.txt", "last"}}, [&] { reg.refuse = true; }},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir.path() / "Formwell");
    fs::create_directories(native + "eb_df");
    archtest::writeBytes(native + "eb_df/index.html", "old page");
    archtest::writeBytes(native + "doc.txt", "old doc");
    reg.refuse = false;
    ASSERT_EQ(s.writeInstalledVersion("2.0.0.3"), 1);
    std::vector<ZipEntry> package{{"eb_df/index.html", "new page"}, {"added.txt", "new"}};
    package.insert(package.end(), c.package.begin(), c.package.end());
    archtest::writeBytes(native + "tm.zip", archtest::buildZip(package));
    c.before();
    messages.clear();
    ASSERT_EQ(s.beginInstall(folder, "2.0.0.8", folder + "tm.zip"), 1);
    EXPECT_EQ(s.completeInstall(folder + "tm.zip", folder, "2.0.0.8"), 0);
    EXPECT_EQ(messages.size(), 1u);
    reg.refuse = false;
    EXPECT_EQ(s.readInstalledVersion(), "2.0.0.3");
    EXPECT_EQ(slurp(native + "eb_df/index.html"), "old page");
    EXPECT_EQ(slurp(native + "doc.txt"), "old doc");
    EXPECT_FALSE(fs::exists(native + "added.txt"));
    for (const char* gone : {"install.pending", ".backup", ".staging"})
      EXPECT_FALSE(fs::exists(native + gone)) << gone;
    EXPECT_EQ(s.finishPendingInstall(folder), 1);
  }
}

#ifndef _WIN32
// Everything an installation run as root (sudo -E) makes under a user's home belongs to the home's
// owner, the folders on the way included, so that the user can save and update afterwards.
TEST_F(SetupTest, WhatRootInstallsUnderAHomeBelongsToItsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const uid_t user = 65534;
  fs::path home = dir.path() / "home";
  fs::create_directories(home);
  ASSERT_EQ(chown(home.c_str(), user, user), 0);
  registry.set("software\\microsoft\\windows\\currentversion", "CommonFilesDir", (home / ".local" / "share").string());
  CSetup s = withFakes();
  ASSERT_EQ(s.installCarriedPackage(), 1);
  EXPECT_EQ(s.readInstalledVersion(), "1.0.0.0");
  int seen = 0;
  for (const auto& e : fs::recursive_directory_iterator(home)) {
    struct stat st;
    ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user) << e.path();
    ++seen;
  }
  EXPECT_GT(seen, 10);
}

// Two formwell processes on one folder: a start while another installs waits for it, and never
// drops its mark or empties its staging folder.
TEST_F(SetupTest, AStartWaitsForAnotherProcesssInstallation) {
  CSetup first = withFakes(), second = withFakes();
  std::string folder = dir.str() + "Formwell\\", native = dir.str() + "Formwell/";
  platform::makeSurePathExists(folder);
  archtest::writeBytes(native + "tm.zip.part", archtest::buildZip({{"new.txt", "new"}}));
  ASSERT_EQ(first.beginInstall(folder, "2.0.0.8", folder + "tm.zip.part"), 1);
  std::atomic<bool> finished{false};
  std::thread other([&] {
    second.finishPendingInstall(folder);
    finished = true;
  });
  // The first process's package takes tm.zip's place only now; meanwhile the mark was not
  // dropped although tm.zip was not the package it names.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(finished);
  ASSERT_TRUE(fs::exists(native + "install.pending"));
  ASSERT_TRUE(platform::replaceFile(folder + "tm.zip.part", folder + "tm.zip"));
  EXPECT_EQ(first.completeInstall(folder + "tm.zip", folder, "2.0.0.8"), 1);
  other.join();
  EXPECT_EQ(slurp(native + "new.txt"), "new");
  EXPECT_EQ(first.readInstalledVersion(), "2.0.0.8");
}
#endif

// Extracting over a library that a process has loaded, and over a program that runs: no crash,
// and each file is afterwards the whole new one, while the old ones go on working.
TEST_F(SetupTest, ExtractionOverALoadedLibraryAndARunningProgramReplacesThemWhole) {
  CSetup s = withFakes();
  std::string bin = platform::moduleFolder();
  fs::create_directories(dir.path() / "dest");
#ifdef _WIN32
  const std::string library = "gbconv.dll";
#else
  const std::string library = "libgbconv.so";
#endif
  fs::copy_file(bin + library, dir.path() / "dest" / library);
  fs::copy_file(bin + "replace_probe" + (library == "gbconv.dll" ? ".exe" : ""), dir.path() / "dest" / "probe.exe");
  std::string libraryPath = (dir.path() / "dest" / library).string();
#ifdef _WIN32
  HMODULE loaded = LoadLibraryA(libraryPath.c_str());
  ASSERT_NE(loaded, nullptr);
  auto convert = reinterpret_cast<ANSIToGBProc>(reinterpret_cast<void*>(GetProcAddress(loaded, "ANSIToGB")));
#else
  void* loaded = dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(loaded, nullptr);
  auto convert = reinterpret_cast<ANSIToGBProc>(dlsym(loaded, "ANSIToGB"));
#endif
  ASSERT_NE(convert, nullptr);
  std::string started = dir.str() + "started", stop = dir.str() + "stop";
  testutil::StartedProgram program((dir.path() / "dest" / "probe.exe").string(), {"--run-until", started, stop});
  for (int i = 0; i < 200 && !fs::exists(started); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(fs::exists(started));

  std::string zip = file("new.zip", archtest::buildZip({{library, "new library"}, {"probe.exe", "new program"}}));
  EXPECT_EQ(s.extractArchive(zip, dir.str() + "dest"), 1);
  EXPECT_TRUE(messages.empty()) << (messages.empty() ? "" : messages[0]);
  EXPECT_EQ(slurp(libraryPath), "new library");
  EXPECT_EQ(slurp(dir.str() + "dest/probe.exe"), "new program");
  char text[] = "a%41b";
  convert(text, 5); // the old library, still mapped, still runs
  EXPECT_STREQ(text, "aAb");
  archtest::writeBytes(stop, "stop");
  EXPECT_EQ(program.wait(), 0);
#ifdef _WIN32
  FreeLibrary(loaded);
#else
  dlclose(loaded);
#endif
}

// After its program file has been replaced, the running program still names that file.
TEST_F(SetupTest, ModulePathNamesTheProgramFileAfterItWasReplaced) {
  std::string bin = platform::moduleFolder();
#ifdef _WIN32
  const std::string ext = ".exe";
#else
  const std::string ext = "";
#endif
  fs::path probe = dir.path() / ("probe" + ext);
  fs::copy_file(bin + "replace_probe" + ext, probe);
  std::string out = dir.str() + "path.txt";
  ASSERT_EQ(testutil::runProgram(probe.string(), {"--path-after-replace", out}), 0);
  EXPECT_EQ(slurp(out), probe.string());
}

TEST_F(SetupTest, ReplaceSelfOnWindowsStartsTheHiddenCopyWithTheExactCommandLine) {
  CSetup s = withFakes();
  // A program folder far longer than 260 characters still fits.
  std::string common = "C:\\" + std::string(240, 'p') + " folder"; // with the rest, well over 260
  registry.set("software\\microsoft\\windows\\currentversion", "CommonFilesDir", common);
  ASSERT_EQ(s.replaceSelf(), 1);
  std::string self = platform::modulePath();
  ASSERT_EQ(launcher.calls.size(), 4u);
  EXPECT_EQ(launcher.calls[0], "start C:\\windows\\system32\\cmd.exe | Open | /c copy \"" + common +
                                   "\\Formwell\\loader.exe\" \"" + self + "\" /y > nul");
  EXPECT_EQ(launcher.calls[1], "child 4660 64");
  EXPECT_EQ(launcher.calls[2], "own 256 15");
  EXPECT_EQ(launcher.calls[3], "deleted C:\\PROGRA~1\\FORMWELL.EXE");

  // Without COMSPEC, a short path, or when the start fails: 0, and nothing more happens.
  for (int fault = 0; fault < 3; ++fault) {
    FakeLauncher l;
    if (fault == 0) l.comspec = "";
    if (fault == 1) l.shortPath = "";
    if (fault == 2) l.startWorks = false;
    CSetup t(registry, l, [](const std::string&) {});
    EXPECT_EQ(t.replaceSelf(), 0) << fault;
    EXPECT_EQ(l.calls.size(), fault == 2 ? 1u : 0u) << fault;
  }
}

TEST_F(SetupTest, ReplaceSelfOnLinuxHandsBothPathsToTheLauncher) {
  launcher.windowsWay = false;
  registry.set("software\\microsoft\\windows\\currentversion", "CommonFilesDir", "/data dir");
  CSetup s = withFakes();
  ASSERT_EQ(s.replaceSelf(), 1);
  ASSERT_EQ(launcher.calls.size(), 1u);
  EXPECT_EQ(launcher.calls[0], "replace /data dir\\Formwell\\loader.exe | " + platform::modulePath());
}

// The real thing: a program in a folder whose name holds blanks asks for its replacement and
// ends; afterwards its program file is the loader.
TEST_F(SetupTest, ReplaceSelfReplacesTheProgramFileAfterItEnds) {
  std::string bin = platform::moduleFolder();
#ifdef _WIN32
  const std::string ext = ".exe";
#else
  const std::string ext = "";
#endif
  CSetup s(platform::systemRegistry(), platform::systemProcessLauncher(), [](const std::string&) {});
  std::string folder = s.programFolder();
  ASSERT_TRUE(platform::makeSurePathExists(folder));
  fs::path loader = fs::path(platform::nativePath(folder + "loader.exe"));
  fs::copy_file(bin + "replace_loader" + ext, loader, fs::copy_options::overwrite_existing);
  fs::create_directories(dir.path() / "my programs");
  fs::path probe = dir.path() / "my programs" / ("formwell probe" + ext);
  fs::copy_file(bin + "replace_probe" + ext, probe);
  std::string out = dir.str() + "out.txt";
  ASSERT_EQ(testutil::runProgram(probe.string(), {out}), 0);
  EXPECT_EQ(slurp(out), "probe");

  ASSERT_EQ(testutil::runProgram(probe.string(), {"--replace"}), 0);
  std::string want = slurp(loader.string());
  bool replaced = false;
  for (int i = 0; i < 300 && !replaced; ++i) {
    replaced = slurp(probe.string()) == want;
    if (!replaced) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(replaced);
  ASSERT_EQ(testutil::runProgram(probe.string(), {out}), 0);
  EXPECT_EQ(slurp(out), "loader");
  // Nothing is left beside it once it has started again.
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir.path() / "my programs")) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
  fs::remove(loader);
}

#ifndef _WIN32
// An installation killed (kill -9) at any point of a real unpacking is completed at the next start:
// the old files with the old version, or every new file with the new version, never a mix. And a
// mark whose package never took tm.zip's place is dropped with nothing touched.
TEST_F(SetupTest, AnInstallationKilledAnywhereIsCompletedAtTheNextStart) {
  CSetup s(platform::systemRegistry(), launcher, [](const std::string&) {});
  std::string folder = dir.str() + "Formwell\\";
  std::string native = dir.str() + "Formwell/";
  const int files = 300;
  std::vector<ZipEntry> entries;
  for (int i = 0; i < files; ++i)
    entries.push_back({"f" + std::to_string(i) + ".txt", "new " + std::string(30000, char('a' + i % 26))});
  std::string zip = archtest::buildZip(entries);
  auto isNew = [&](int i) { return slurp(native + "f" + std::to_string(i) + ".txt").compare(0, 4, "new ") == 0; };
  struct Point {
    const char* what;
    std::function<bool()> reached;
  } points[] = {
      {"while unpacking into the staging folder", [&] { return fs::exists(native + ".staging/5"); }},
      {"while moving files into place", [&] { return isNew(files / 2); }},
      {"with every file in place", [&] { return isNew(files - 1); }},
  };
  int interrupted = 0;
  for (const Point& p : points) {
    SCOPED_TRACE(p.what);
    platform::makeSurePathExists(folder);
    for (int i = 0; i < files; ++i)
      archtest::writeBytes(native + "f" + std::to_string(i) + ".txt", "old");
    ASSERT_EQ(s.writeInstalledVersion("2.0.0.3"), 1);
    archtest::writeBytes(native + "tm.zip", zip);
    ASSERT_EQ(s.beginInstall(folder, "2.0.0.8", folder + "tm.zip"), 1);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(s.completeInstall(folder + "tm.zip", folder, "2.0.0.8") ? 0 : 1);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!p.reached() && waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    if (fs::exists(native + "install.pending")) ++interrupted;
    // The next start.
    EXPECT_EQ(s.finishPendingInstall(folder), 1);
    for (int i = 0; i < files; ++i)
      ASSERT_TRUE(isNew(i)) << i;
    EXPECT_EQ(s.readInstalledVersion(), "2.0.0.8");
    EXPECT_FALSE(fs::exists(native + "install.pending"));
    EXPECT_FALSE(fs::exists(native + ".staging"));
  }
  EXPECT_GT(interrupted, 0);

  // Killed while moving files into place, and the next start cannot finish (a link planted at a
  // member's place meanwhile): the files of the installation before come back, with its version.
  for (int i = 0; i < files; ++i)
    archtest::writeBytes(native + "f" + std::to_string(i) + ".txt", "old");
  ASSERT_EQ(s.writeInstalledVersion("2.0.0.3"), 1);
  ASSERT_EQ(s.beginInstall(folder, "2.0.0.8", folder + "tm.zip"), 1);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(s.completeInstall(folder + "tm.zip", folder, "2.0.0.8") ? 0 : 1);
  while (!isNew(files / 2) && waitpid(child, nullptr, WNOHANG) == 0)
    std::this_thread::yield();
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_FALSE(isNew(files - 1));
  fs::remove(native + "f" + std::to_string(files - 1) + ".txt");
  fs::create_symlink(dir.path() / "elsewhere.txt", native + "f" + std::to_string(files - 1) + ".txt");
  EXPECT_EQ(s.finishPendingInstall(folder), 1);
  for (int i = 0; i < files - 1; ++i)
    ASSERT_EQ(slurp(native + "f" + std::to_string(i) + ".txt"), "old") << i;
  EXPECT_EQ(s.readInstalledVersion(), "2.0.0.3");
  EXPECT_FALSE(fs::exists(native + "install.pending"));
  EXPECT_FALSE(fs::exists(native + ".backup"));
  fs::remove(native + "f" + std::to_string(files - 1) + ".txt");

  // Killed after the mark, before the new package took tm.zip's place: nothing was touched.
  archtest::writeBytes(native + "tm.zip.part", "another package");
  ASSERT_EQ(s.beginInstall(folder, "2.0.0.9", folder + "tm.zip.part"), 1);
  EXPECT_EQ(s.finishPendingInstall(folder), 1);
  EXPECT_EQ(s.readInstalledVersion(), "2.0.0.3");
  EXPECT_FALSE(fs::exists(native + "install.pending"));
}
#endif
