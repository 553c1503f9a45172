#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "test_util.h"

using namespace platform;

TEST(CodePage, Utf8RoundTripsChineseAndCharactersBeyondTheBasicPlane) {
  std::u16string w = u"中文 Velor服务平台 \U0001F600 €";
  EXPECT_EQ(utf8ToWide(wideToUtf8(w)), w);
  EXPECT_EQ(wideToUtf8(u"中"), "\xE4\xB8\xAD");
  EXPECT_EQ(utf8ToWide("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(CodePage, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(utf8ToWide("a\xFF"
                       "b"),
            u"a\uFFFD"
            "b");
  EXPECT_EQ(utf8ToWide("\xE4\xB8"
                       "x"),
            u"\uFFFDx");                                                      // a cut-off character counts once
  EXPECT_EQ(utf8ToWide("\xC0\x80"), u"\uFFFD\uFFFD");                         // overlong forms are not characters
  EXPECT_EQ(wideToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD"); // lone surrogate
}

TEST(CodePage, CodePage936IsGbkWithTheEuroAt0x80) {
  EXPECT_EQ(toWide(936, "\xD6\xD0\xCE\xC4"), u"中文");
  EXPECT_EQ(fromWide(936, u"中文"), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(fromWide(936, u"€"), "\x80");
  EXPECT_EQ(fromWide(936, u"a\U0001F600b"), "a??b"); // the default character for each UTF-16 unit
  EXPECT_EQ(fromWide(936, u"\u0E01"), "?");
}

TEST(CodePage, AnsiRoundTripsWhatTheCodePageCanHold) {
  std::u16string w = u"Velor服务平台自助申请软件";
  EXPECT_EQ(ansiToWide(wideToAnsi(w)), w);
}

#ifdef _WIN32
TEST(CodePage, WineRunsTheTestsWithCodePage936) { EXPECT_EQ(ansiCodePage(), 936u); }
#else
TEST(CodePage, LocaleEnvironmentNamesTheAnsiCodePage) {
  struct Case {
    const char* lcAll;
    const char* lcCtype;
    const char* lang;
    uint32_t cp;
  } cases[] = {
      {"zh_CN.GBK", nullptr, nullptr, 936},
      {"zh_CN.gb2312", nullptr, nullptr, 936},
      {"zh_CN.GB18030", nullptr, nullptr, 936},
      {"zh_CN.CP936", nullptr, nullptr, 936},
      {"C.UTF-8", "zh_CN.GBK", nullptr, 65001},
      {"", "zh_CN.GBK", "C.UTF-8", 936},
      {nullptr, nullptr, "zh_CN.GBK@euro", 936},
      {nullptr, nullptr, "zh_CN", 65001},
      {"C", nullptr, nullptr, 65001},
      {nullptr, nullptr, nullptr, 65001},
  };
  const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    had[i] = v != nullptr;
    saved[i] = v ? v : "";
  }
  for (const Case& c : cases) {
    const char* values[] = {c.lcAll, c.lcCtype, c.lang};
    for (int i = 0; i < 3; ++i)
      values[i] ? testutil::setEnv(names[i], values[i]) : testutil::unsetEnv(names[i]);
    EXPECT_EQ(ansiCodePage(), c.cp) << (c.lcAll ? c.lcAll : "-") << " " << (c.lcCtype ? c.lcCtype : "-") << " "
                                    << (c.lang ? c.lang : "-");
  }
  for (int i = 0; i < 3; ++i)
    had[i] ? testutil::setEnv(names[i], saved[i]) : testutil::unsetEnv(names[i]);
}
#endif
