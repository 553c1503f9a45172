// The registry through the platform layer: the real one under Wine, the text hives on Linux.
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "test_util.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
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

TEST_F(RegistryTest, DamagedHiveReadsAsEmptyAndIsKeptAsideWhenWritten) {
  platform::makeSurePathExists(hiveFile(config_));
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\software\\orvanta\\formwell]\n"
      "\"currentversion\"=\"2.0.0.1\"\n\"cut off here";
  {
    platform::OutFile f;
    ASSERT_TRUE(f.createAlways(hiveFile(config_)));
    ASSERT_TRUE(f.write(damaged.data(), damaged.size()));
  }
  EXPECT_EQ(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "currentversion"), "<no key>");
  std::string same;
  ASSERT_TRUE(platform::readFile(hiveFile(config_), &same));
  EXPECT_EQ(same, damaged); // reading never rewrites

  {
    RegKey k;
    ASSERT_TRUE(k.openOrCreate(RegRoot::LocalMachine, "software\\orvanta\\formwell", 0x2001F));
    ASSERT_TRUE(k.setString("currentversion", "1.0.0.0", 7));
  }
  EXPECT_EQ(std::string(read(RegRoot::LocalMachine, "software\\orvanta\\formwell", "currentversion").c_str()),
            "1.0.0.0");
  std::string aside;
  ASSERT_TRUE(platform::readFile(hiveFile(config_) + ".damaged", &aside));
  EXPECT_EQ(aside, damaged);
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

#endif

} // namespace
