// The registry through the platform layer: the real one under Wine, the text hives on Linux.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Faults the hive code must survive, switched on by the tests below: these definitions take the
// place of the C library's for the whole test program and pass every other call through.
namespace {
int failFlockWith = 0;            // errno for flock to fail with, or 0
std::vector<ino_t> syncedFolders; // folders fsync was called on
} // namespace

extern "C" int flock(int fd, int operation) {
  if (failFlockWith) {
    errno = failFlockWith;
    return -1;
  }
  return static_cast<int>(syscall(SYS_flock, fd, operation));
}

extern "C" int fsync(int fd) {
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) syncedFolders.push_back(st.st_ino);
  return static_cast<int>(syscall(SYS_fsync, fd));
}
#endif

using platform::RegKey;
using platform::RegRoot;

namespace {

class RegistryTest : public ::testing::Test {
protected:
  void SetUp() override {
#ifndef _WIN32
    // Each test gets hives of its own.
    testutil::setEnv("XDG_CONFIG_HOME", config_.path().string());
    testutil::setEnv("XDG_DATA_HOME", (config_.path() / "data").string());
#endif
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    key_ = std::string("software\\orvanta\\formwell-test\\") + info->name();
  }

  std::string read(RegRoot root, const std::string& key, const std::string& name, uint32_t bufSize = 256) {
    RegKey k;
    if (!k.openRead(root, key)) return "<no key>";
    std::string buf(bufSize, '\0');
    uint32_t got = 0;
    if (!k.query(name, &buf[0], bufSize, &got)) return "<no value>";
    return buf.substr(0, got);
  }

#ifndef _WIN32
  std::string hivePath() const { return (config_.path() / "formwell" / "HKEY_LOCAL_MACHINE.reg").string(); }
  void putHive(const std::string& bytes) {
    std::filesystem::create_directories(config_.path() / "formwell");
    std::ofstream(hivePath(), std::ios::binary | std::ios::trunc) << bytes;
  }
  std::string hiveText() const {
    std::string text;
    return platform::readFile(hivePath(), &text) ? text : "<no hive>";
  }
#endif

  testutil::TempDir config_;
  std::string key_;
};

TEST_F(RegistryTest, WrittenTextReadsBackWithoutTerminator) {
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, key_, 0x2001F));
    ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
  }
  RegKey k;
  ASSERT_TRUE(k.openRead(RegRoot::LocalMachine, key_));
  char buf[256];
  std::memset(buf, 0, sizeof buf);
  uint32_t got = 0, type = 0;
  ASSERT_TRUE(k.query("currentversion", buf, sizeof buf, &got, &type));
  EXPECT_STREQ(buf, "1.0.0.0");
  EXPECT_EQ(type, platform::kRegSz);
  EXPECT_GE(got, 7u);
  EXPECT_LE(got, 8u); // Windows may count a terminator it adds
}

TEST_F(RegistryTest, MissingKeysAndValuesAreReportedAsMissing) {
  RegKey k;
  EXPECT_FALSE(k.openRead(RegRoot::LocalMachine, key_ + "\\nowhere"));
  EXPECT_FALSE(k.isOpen());
  char buf[16] = "unchanged";
  EXPECT_FALSE(k.query("x", buf, sizeof buf));
  ASSERT_TRUE(k.openOrCreate(RegRoot::CurrentUser, key_, platform::kKeyAllAccess));
  EXPECT_FALSE(k.query("absent", buf, sizeof buf));
  EXPECT_STREQ(buf, "unchanged");
}

TEST_F(RegistryTest, ValueOf255BytesReadsWholeInto256AndALongerOneDoesNotFit) {
  std::string v255(255, 'v');
  std::string v300(300, 'w');
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, key_, 0x2001F));
    ASSERT_TRUE(k.setString("v255", v255.data(), 255));
    ASSERT_TRUE(k.setString("v300", v300.data(), 300));
  }
  EXPECT_EQ(std::string(read(RegRoot::LocalMachine, key_, "v255").c_str()), v255);
  EXPECT_EQ(read(RegRoot::LocalMachine, key_, "v300"), "<no value>");
  EXPECT_EQ(std::string(read(RegRoot::LocalMachine, key_, "v300", 512).c_str()), v300);
  RegKey k;
  ASSERT_TRUE(k.openRead(RegRoot::LocalMachine, key_, platform::kKeyRead | platform::kKeyWow64_32Key));
  EXPECT_TRUE(k.hasValue("v300") && !k.hasValue("v301")); // there however long, or not
}

// Text given as UTF-16 is kept as it is, also what the ANSI code page lacks ("한" in 936): on
// Windows as UTF-16LE; in a hive as UTF-8, without terminator.
TEST_F(RegistryTest, TextGivenAsUtf16IsKeptWhateverTheCodePage) {
  const std::u16string texts[] = {u"&b本套资料总共&P页，当前第&p页。打印时间：&d", u"", u"0.21654", u"한 €"};
  RegKey k;
  ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, key_, platform::kKeyAllAccess));
  for (size_t i = 0; i < sizeof texts / sizeof texts[0]; ++i) {
    std::string name = "text" + std::to_string(i);
    ASSERT_TRUE(k.setWideString(name, texts[i]));
    EXPECT_EQ(std::string(read(RegRoot::LocalMachine, key_, name).c_str()), platform::wideToAnsi(texts[i])) << name;
#ifdef _WIN32
    HKEY h = nullptr;
    char16_t buf[128];
    DWORD type = 0, size = sizeof buf;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_READ, &h), ERROR_SUCCESS);
    LONG r = RegQueryValueExW(h, std::wstring(name.begin(), name.end()).c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(h);
    std::u16string got(buf, size / 2);
    if (!got.empty() && got.back() == 0) got.pop_back(); // Windows counts a terminator that follows the text
    EXPECT_EQ(std::to_string(r) + " " + std::to_string(type) + " " + platform::wideToUtf8(got),
              "0 1 " + platform::wideToUtf8(texts[i])); // REG_SZ, the UTF-16 text
#else
    EXPECT_NE(hiveText().find("\"" + name + "\"=\"" + platform::wideToUtf8(texts[i]) + "\"\n"), std::string::npos)
        << name;
#endif
  }
}

TEST_F(RegistryTest, NamesAreComparedWithoutRegardToCaseAndValuesAreReplaced) {
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::CurrentUser, key_, platform::kKeyAllAccess));
    ASSERT_TRUE(k.setString("PROXY_HOST", "first", 5));
    ASSERT_TRUE(k.setString("proxy_host", "second", 6));
  }
  std::string upper = key_;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(std::string(read(RegRoot::CurrentUser, upper, "Proxy_Host").c_str()), "second");
}

TEST_F(RegistryTest, TextInTheAnsiCodePageAndDwordsRoundTrip) {
  std::string chinese = platform::wideToAnsi(u"d:\\Velor服务平台自助申请软件\\ \"quoted\" \\\\server");
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, key_, 0x2001F));
    ASSERT_TRUE(k.setString("path", chinese.data(), static_cast<uint32_t>(chinese.size())));
    ASSERT_TRUE(k.setDword("PROXY_PORT", 8080));
  }
  EXPECT_EQ(std::string(read(RegRoot::LocalMachine, key_, "path").c_str()), chinese);
  std::string dw = read(RegRoot::LocalMachine, key_, "PROXY_PORT");
  ASSERT_EQ(dw.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(dw[0]) | (static_cast<unsigned char>(dw[1]) << 8), 8080);
}

TEST_F(RegistryTest, CommonFilesFolderIsAnswered) {
  std::string v = read(RegRoot::LocalMachine, "software\\microsoft\\windows\\currentversion", "CommonFilesDir");
  ASSERT_NE(v, "<no key>");
  ASSERT_NE(v, "<no value>");
  EXPECT_FALSE(std::string(v.c_str()).empty());
#ifndef _WIN32
  EXPECT_EQ(std::string(v.c_str()), (config_.path() / "data").string());
#endif
}

#ifndef _WIN32

std::string hiveFile(const testutil::TempDir& dir) {
  return (dir.path() / "formwell" / "HKEY_LOCAL_MACHINE.reg").string();
}

TEST_F(RegistryTest, HiveIsARegExportThatOtherToolsCanRead) {
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, "software\\orvanta\\formwell", 0x2001F));
    ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
    ASSERT_TRUE(k.setString("PROXY_HOST", "a\\b\"c", 5));
    ASSERT_TRUE(k.setDword("n", 42));
  }
  std::string text;
  ASSERT_TRUE(platform::readFile(hiveFile(config_), &text));
  EXPECT_EQ(text, "Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\n"
                  "\"currentversion\"=\"1.0.0.0\"\n"
                  "\"PROXY_HOST\"=\"a\\\\b\\\"c\"\n"
                  "\"n\"=dword:0000002a\n");
}

TEST_F(RegistryTest, HiveWrittenByHandIsRead) {
  platform::makeSurePathExists(hiveFile(config_));
  platform::OutFile f;
  ASSERT_TRUE(f.createAlways(hiveFile(config_)));
  std::string text = "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                     "; made by hand\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
                     "\"CommonFilesDir\"=\"/opt/common\"\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\r\n"
                     "\"blob\"=hex:01,02,\\\r\n  03\r\n"
                     "@=\"default\"\r\n";
  ASSERT_TRUE(f.write(text.data(), text.size()));
  f.close();
  EXPECT_EQ(std::string(
                read(RegRoot::LocalMachine, "software\\microsoft\\windows\\currentversion", "CommonFilesDir").c_str()),
            "/opt/common");
  EXPECT_EQ(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "blob"), "\x01\x02\x03");
  EXPECT_EQ(std::string(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "").c_str()), "default");
  RegKey parent;
  EXPECT_TRUE(parent.openRead(RegRoot::LocalMachine, "software\\orvanta")); // a parent of a listed key exists
}

TEST_F(RegistryTest, DamagedHiveReadsWhatItCanAndIsKeptAsideWhenWritten) {
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\n"
      "\"currentversion\"=\"2.0.0.1\"\n\"cut off here";
  putHive(damaged);
  // As regedit imports it: the line it cannot understand is skipped, the rest is there.
  EXPECT_EQ(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "currentversion"), "2.0.0.1");
  EXPECT_EQ(hiveText(), damaged); // reading never rewrites

  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, "software\\orvanta\\formwell", 0x2001F));
    ASSERT_TRUE(k.setString("PROXY_TYPE", "1", 1));
  }
  EXPECT_EQ(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "currentversion"), "2.0.0.1");
  EXPECT_EQ(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "PROXY_TYPE"), "1");
  std::string aside;
  ASSERT_TRUE(platform::readFile(hiveFile(config_) + ".damaged", &aside));
  EXPECT_EQ(aside, damaged);
}

TEST_F(RegistryTest, TextThatIsNoHiveReadsAsEmptyAndIsKeptAsideWhenWritten) {
  const std::string notAHive = "[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\n\"currentversion\"=\"2.0\"\n";
  putHive(notAHive);
  EXPECT_EQ(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "currentversion"), "<no key>");
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, "software\\orvanta\\formwell", 0x2001F));
    ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
  }
  EXPECT_EQ(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "currentversion"), "1.0.0.0");
  std::string aside;
  ASSERT_TRUE(platform::readFile(hiveFile(config_) + ".damaged", &aside));
  EXPECT_EQ(aside, notAHive);
}

TEST_F(RegistryTest, TwoProcessesWritingTheSameHiveLoseNothing) {
  const int perProcess = 150;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  const char* who = child == 0 ? "child" : "parent";
  for (int i = 0; i < perProcess; ++i) {
    RegKey k;
    std::string name = std::string(who) + std::to_string(i);
    if (!k.openOrCreate(RegRoot::LocalMachine, key_, 0x2001F) ||
        !k.setString(name, name.data(), static_cast<uint32_t>(name.size()))) {
      if (child == 0) _exit(1);
      ADD_FAILURE() << name;
    }
  }
  if (child == 0) _exit(0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (const char* w : {"child", "parent"})
    for (int i = 0; i < perProcess; ++i) {
      std::string name = std::string(w) + std::to_string(i);
      EXPECT_EQ(std::string(read(RegRoot::LocalMachine, key_, name).c_str()), name);
    }
}

// Hive texts as regedit writes them or people edit them, and what reading them gives.
struct Expect {
  std::string key, name, value; // value "<no key>" or "<no value>" when regedit would not have it
};
struct ExportCase {
  const char* what;
  std::string file;
  std::vector<Expect> expect;
};

std::string utf16le(const std::u16string& w) {
  std::string out;
  for (char16_t c : w) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::vector<ExportCase> regeditExports() {
  const std::string h = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string fwKey = "[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\r\n";
  const std::string fw = "software\\orvanta\\formwell";
  const std::string dword16("\x10\0\0\0", 4), dword42("\x2a\0\0\0", 4);
  return {
      {"UTF-16LE with a byte order mark",
       "\xFF\xFE" + utf16le(u"Windows Registry Editor Version 5.00\r\n\r\n"
                            u"[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\r\n"
                            u"\"currentversion\"=\"1.2.3.4\"\r\n\"PROXY_HOST\"=\"代理.example\"\r\n"),
       {{fw, "currentversion", "1.2.3.4"}, {fw, "PROXY_HOST", platform::wideToAnsi(u"代理.example")}}},
      {"REGEDIT4",
       "REGEDIT4\r\n\r\n" + fwKey + "\"currentversion\"=\"4.0\"\r\n\"n\"=dword:00000010\r\n",
       {{fw, "currentversion", "4.0"}, {fw, "n", dword16}}},
      {"delete lines",
       h + "[HKEY_LOCAL_MACHINE\\software\\a]\r\n\"keep\"=\"1\"\r\n\"gone\"=\"2\"\r\n\"gone\"=-\r\n"
           "[HKEY_LOCAL_MACHINE\\software\\b\\c]\r\n\"x\"=\"y\"\r\n[-HKEY_LOCAL_MACHINE\\software\\b]\r\n",
       {{"software\\a", "keep", "1"},
        {"software\\a", "gone", "<no value>"},
        {"software\\b\\c", "x", "<no key>"},
        {"software\\b", "x", "<no key>"}}},
      {"trailing blanks",
       "Windows Registry Editor Version 5.00 \r\n\r\n" + fwKey.substr(0, fwKey.size() - 2) +
           " \r\n\"currentversion\"=\"1.0\"  \r\n\"d\"=dword:0000002a\t\r\n\"h\"=hex:01,02 \r\n",
       {{fw, "currentversion", "1.0"}, {fw, "d", dword42}, {fw, "h", "\x01\x02"}}},
      {"continuation lines",
       h + fwKey +
           "\"h\"=hex:01,02,\\\r\n  03,04,\\\r\n  05\r\n\"s\"=hex(1):41,00,\\\r\n  42,00\r\n\"after\"=\"ok\"\r\n",
       {{fw, "h", "\x01\x02\x03\x04\x05"}, {fw, "s", "AB"}, {fw, "after", "ok"}}},
      {"expandable and multiple texts, as regedit exports them",
       h + fwKey +
           "\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n\"c\"=hex(2):e3,4e,06,74,00,00\r\n"
           "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n",
       {{fw, "e", std::string("%A%\0", 4)},
        {fw, "c", platform::wideToAnsi(std::u16string(u"\u4EE3\u7406\0", 3))},
        {fw, "m", std::string("a\0b\0\0", 5)}}},
      {"a hex value cut at a final backslash",
       h + fwKey + "\"currentversion\"=\"1.0\"\r\n\"cut\"=hex:0a,0b,\\",
       {{fw, "currentversion", "1.0"}, {fw, "cut", "\x0a\x0b"}}},
      {"hostile hex types",
       h + fwKey +
           "\"t1\"=hex(ffffffffffffffffffff):01\r\n\"t2\"=hex(\r\n\"t3\"=hex():01\r\n\"t4\"=hex(zz):01\r\n"
           "\"t5\"=hex(-1):01\r\n\"t6\"=dword:123456789\r\n\"t7\"=hex:0g\r\n\"t8\"=hex(100000000):01\r\n"
           "\"big\"=hex(ffffffff):07\r\n\"currentversion\"=\"1.0\"\r\n",
       {{fw, "t1", "<no value>"},
        {fw, "t2", "<no value>"},
        {fw, "t3", "<no value>"},
        {fw, "t4", "<no value>"},
        {fw, "t5", "<no value>"},
        {fw, "t6", "<no value>"},
        {fw, "t7", "<no value>"},
        {fw, "t8", "<no value>"},
        {fw, "big", "\x07"},
        {fw, "currentversion", "1.0"}}},
      {"escaped names",
       h + fwKey +
           "\"a\\\"b\"=\"1\"\r\n\"c\\\\d\"=\"2\"\r\n\"line\\nbreak\"=\"3\"\r\n@=\"default\"\r\n"
           "\"typed by hand\"=\"D:\\new\\table\\\\x\"\r\n",
       {{fw, "a\"b", "1"},
        {fw, "c\\d", "2"},
        {fw, "line\nbreak", "3"},
        {fw, "", "default"},
        {fw, "typed by hand", "D:\\new\\table\\x"}}},
  };
}

TEST_F(RegistryTest, RegeditExportsReadAsRegeditReadsThem) {
  for (const ExportCase& c : regeditExports()) {
    SCOPED_TRACE(c.what);
    putHive(c.file);
    for (const Expect& e : c.expect)
      EXPECT_EQ(read(RegRoot::LocalMachine, e.key, e.name), e.value) << e.key << " " << e.name;
  }
}

TEST_F(RegistryTest, ValuesAWriteDoesNotTouchComeBackByteForByte) {
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"thai", "\"thai\"=\"ก 😀\""},
      {"utf16", "\"utf16\"=hex(1):41,00,3d,d8,00,de"},
      {"odd", "\"odd\"=hex(1):41,00,42"},
      {"expand", "\"expand\"=hex(2):25,00,41,00,25,00,00,00"},
      {"upper", "\"upper\"=dword:0000ABCD"},
      {"gbk", "\"gbk\"=\"\xB7\xFE\""},
      {"wrapped", "\"wrapped\"=hex:01,02,\\\n  03"},
  };
  std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\n";
  for (const auto& l : lines)
    text += l.second + "\n";
  putHive(text);
  const std::string fw = "software\\orvanta\\formwell";
  std::vector<std::string> before;
  for (const auto& l : lines)
    before.push_back(read(RegRoot::LocalMachine, fw, l.first));
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, fw, 0x2001F));
    ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
  }
  std::string after = hiveText();
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(after.find("\n" + lines[i].second + "\n"), std::string::npos) << lines[i].second << "\n" << after;
    EXPECT_EQ(read(RegRoot::LocalMachine, fw, lines[i].first), before[i]) << lines[i].first;
  }
  EXPECT_EQ(read(RegRoot::LocalMachine, fw, "currentversion"), "1.0.0.0");
}

TEST_F(RegistryTest, NamesFoldCaseForAsciiLettersOnly) {
  // In GBK these are 81 41 and 81 61: the same bytes but for the case of an ASCII letter.
  const std::string a = platform::wideToAnsi(u"丄"), b = platform::wideToAnsi(u"乤");
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, key_, 0x2001F));
    ASSERT_TRUE(k.setString(a, "first", 5));
    ASSERT_TRUE(k.setString(b, "second", 6));
    RegKey ka, kb;
    ASSERT_TRUE(ka.openOrCreate(RegRoot::LocalMachine, key_ + "\\" + a, 0x2001F));
    ASSERT_TRUE(ka.setString("v", "under a", 7));
    ASSERT_TRUE(kb.openOrCreate(RegRoot::LocalMachine, key_ + "\\" + b, 0x2001F));
    ASSERT_TRUE(kb.setString("v", "under b", 7));
  }
  EXPECT_EQ(read(RegRoot::LocalMachine, key_, a), "first");
  EXPECT_EQ(read(RegRoot::LocalMachine, key_, b), "second");
  EXPECT_EQ(read(RegRoot::LocalMachine, key_ + "\\" + a, "v"), "under a");
  EXPECT_EQ(read(RegRoot::LocalMachine, key_ + "\\" + b, "v"), "under b");
}

TEST_F(RegistryTest, NamesWithControlCharactersRoundTrip) {
  const std::vector<std::string> names = {
      "line\nbreak", "cr\rreturn", "tab\there", "quote\"back\\slash",          "[section]", "=", "@",
      ";comment",    "trailing\\", "-",         std::string("nul\0inside", 10)};
  const std::string fw = "software\\orvanta\\formwell";
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, fw, 0x2001F));
    ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
    for (size_t i = 0; i < names.size(); ++i) {
      std::string v = "v" + std::to_string(i);
      ASSERT_TRUE(k.setString(names[i], v.data(), static_cast<uint32_t>(v.size())));
    }
    ASSERT_TRUE(k.setString("PROXY_TYPE", "1", 1)); // one more write over the names above
  }
  EXPECT_EQ(read(RegRoot::LocalMachine, fw, "currentversion"), "1.0.0.0");
  for (size_t i = 0; i < names.size(); ++i)
    EXPECT_EQ(read(RegRoot::LocalMachine, fw, names[i]), "v" + std::to_string(i)) << i;
  EXPECT_FALSE(platform::pathExists(hivePath() + ".damaged")) << hiveText();
}

TEST_F(RegistryTest, NewHivesArePrivateAndAnExistingModeOrSymlinkIsKept) {
  struct Case {
    const char* what;
    int existingMode; // -1: no hive yet
    bool symlinked;
    mode_t expectMode;
    bool otherUsers = false; // the hive belongs to another user, and root writes it
  };
  const Case cases[] = {
      {"a new hive", -1, false, 0600},
      {"an existing hive of mode 0640", 0640, false, 0640},
      {"an existing hive of mode 0600", 0600, false, 0600},
      {"a symlinked hive of mode 0640", 0640, true, 0640},
      {"a symlink to a hive not made yet", -1, true, 0600},
      {"another user's hive written by root", 0600, false, 0600, true},
  };
  const uid_t otherUser = 65534;
  const mode_t oldMask = ::umask(022);
  const std::string fw = "software\\orvanta\\formwell";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.otherUsers && ::geteuid() != 0) continue; // only root may give a file away
    std::filesystem::remove_all(config_.path() / "formwell");
    std::filesystem::remove_all(config_.path() / "elsewhere");
    std::filesystem::create_directories(config_.path() / "formwell");
    std::filesystem::create_directories(config_.path() / "elsewhere");
    const std::string real = c.symlinked ? (config_.path() / "elsewhere" / "real.reg").string() : hivePath();
    if (c.existingMode >= 0) {
      std::ofstream(real) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" << fw
                          << "]\n\"PROXY_PWD\"=\"secret\"\n";
      ASSERT_EQ(::chmod(real.c_str(), static_cast<mode_t>(c.existingMode)), 0);
      if (c.otherUsers) {
        ASSERT_EQ(::chown(real.c_str(), otherUser, otherUser), 0);
      }
    }
    if (c.symlinked) {
      ASSERT_EQ(::symlink("../elsewhere/real.reg", hivePath().c_str()), 0);
    }
    {
      RegKey k;
      ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, fw, 0x2001F));
      ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
    }
    struct stat st;
    ASSERT_EQ(::lstat(hivePath().c_str(), &st), 0);
    EXPECT_EQ(S_ISLNK(st.st_mode), c.symlinked);
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expectMode);
    EXPECT_EQ(st.st_uid, c.otherUsers ? otherUser : ::geteuid());
    EXPECT_EQ(read(RegRoot::LocalMachine, fw, "currentversion"), "1.0.0.0");
    if (c.existingMode >= 0) {
      EXPECT_EQ(read(RegRoot::LocalMachine, fw, "PROXY_PWD"), "secret");
    }
  }
  ::umask(oldMask);
}

// Run as root with the user's HOME (sudo -E, su -m), the user's registry stays the user's.
TEST_F(RegistryTest, ARootFirstRunLeavesTheUsersRegistryTheUsers) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const uid_t user = 65534;
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (bool configExists : {false, true}) {
    testutil::TempDir home;
    const std::filesystem::path config = home.path() / ".config", fw = config / "formwell";
    if (configExists) std::filesystem::create_directory(config);
    ::chown(home.path().c_str(), user, user), ::chown(config.c_str(), user, user);
    ::setenv("HOME", home.path().c_str(), 1), ::unsetenv("XDG_CONFIG_HOME");
    RegKey(platform::systemRegistry()).openOrCreate(RegRoot::LocalMachine, key_, 0x2001F);
    const std::pair<std::filesystem::path, mode_t> made[] = {{config, configExists ? 0755 : 0700},
                                                             {fw, 0700},
                                                             {fw / "HKEY_LOCAL_MACHINE.reg", 0600},
                                                             {fw / "HKEY_LOCAL_MACHINE.reg.lock", 0600}};
    for (const auto& m : made) {
      struct stat st {};
      EXPECT_EQ(::lstat(m.first.c_str(), &st), 0) << m.first;
      EXPECT_EQ(st.st_uid, user) << m.first;
      EXPECT_EQ(st.st_mode & 07777, m.second) << m.first;
    }
  }
  ::setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(RegistryTest, AFailedLockStopsTheWrite) {
  RegKey k;
  ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, key_, 0x2001F));
  ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
  const std::string before = hiveText();
  failFlockWith = ENOLCK;
  const bool wrote = k.setString("currentversion", "2.0.0.0", 7);
  RegKey created;
  const bool made = created.openOrCreate(RegRoot::LocalMachine, key_ + "\\new", 0x2001F);
  failFlockWith = 0;
  EXPECT_FALSE(wrote);
  EXPECT_FALSE(made);
  EXPECT_EQ(hiveText(), before);
}

TEST_F(RegistryTest, TheFolderIsSyncedAfterTheHiveIsReplaced) {
  syncedFolders.clear();
  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, key_, 0x2001F));
    ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
  }
  struct stat st;
  ASSERT_EQ(::stat((config_.path() / "formwell").c_str(), &st), 0);
  EXPECT_NE(std::find(syncedFolders.begin(), syncedFolders.end(), st.st_ino), syncedFolders.end());
}

TEST_F(RegistryTest, WithoutAHomeTheUsersOwnHomeIsUsedAndNeverASharedFolder) {
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_TRUE(pw && pw->pw_dir && pw->pw_dir[0] == '/');
  const std::string own = std::string(pw->pw_dir) + "/.local/share";
  const std::string home = (config_.path() / "home").string();
  struct Case {
    const char* what;
    const char* home; // nullptr: unset
    const char* dataHome;
    std::string expect;
  };
  const Case cases[] = {
      {"HOME unset", nullptr, nullptr, own},
      {"HOME empty", "", nullptr, own},
      {"a relative XDG folder is ignored", home.c_str(), "relative/share", home + "/.local/share"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::unsetenv("XDG_CONFIG_HOME");
      c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
      c.dataHome ? ::setenv("XDG_DATA_HOME", c.dataHome, 1) : ::unsetenv("XDG_DATA_HOME");
      std::string got = read(RegRoot::LocalMachine, "software\\microsoft\\windows\\currentversion", "CommonFilesDir");
      if (got.c_str() == c.expect) _exit(0);
      std::fprintf(stderr, "got %s\n", got.c_str());
      _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.expect;
  }
}

// With FORMWELL_FUZZ_SEEDS set, writes the seed corpus of the hive parser's fuzz target.
TEST(HiveFuzzSeeds, WrittenWhenAsked) {
  const char* out = std::getenv("FORMWELL_FUZZ_SEEDS");
  if (!out || !*out) GTEST_SKIP() << "FORMWELL_FUZZ_SEEDS not set";
  std::filesystem::create_directories(out);
  int n = 0;
  for (const ExportCase& c : regeditExports())
    std::ofstream(std::string(out) + "/export-" + std::to_string(n++), std::ios::binary) << c.file;
}

#endif

} // namespace
