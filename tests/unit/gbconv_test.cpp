// ANSIToGB, called through the real library loaded by name, as formdesk calls it. The expected
// bytes depend on the ANSI code page the run is given (936 under Wine and LC_ALL=zh_CN.GBK,
// 65001 with a UTF-8 locale).
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "gbconv.h"
#include "platform/codepage.h"
#include "platform/library.h"

namespace {

class AnsiToGbTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    library_ = new platform::Library;
    ASSERT_TRUE(library_->load("gbconv")) << platform::Library::fileName("gbconv") << " not found beside the test";
    proc_ = reinterpret_cast<ANSIToGBProc>(library_->symbol("ANSIToGB"));
    ASSERT_NE(proc_, nullptr) << "no export named ANSIToGB";
  }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
  }

  // Decodes text in a heap buffer of exactly its length plus terminator plus `extra` bytes
  // (so AddressSanitizer sees any read or write past them); size is the text's length.
  static std::string decode(const std::string& text) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    proc_(buf.data(), static_cast<int>(text.size()));
    return std::string(buf.data());
  }

  static bool gbk() { return platform::ansiCodePage() == platform::kCodePageGbk; }

  static platform::Library* library_;
  static ANSIToGBProc proc_;
};

platform::Library* AnsiToGbTest::library_ = nullptr;
ANSIToGBProc AnsiToGbTest::proc_ = nullptr;

TEST_F(AnsiToGbTest, RunsWithTheCodePageTheTestExpects) {
  const char* expected = std::getenv("LC_ALL");
  if (expected && std::string(expected).find("GBK") != std::string::npos) {
    EXPECT_TRUE(gbk());
  }
#ifdef _WIN32
  EXPECT_TRUE(gbk()) << "Wine should run these tests with ANSI code page 936";
#endif
}

TEST_F(AnsiToGbTest, TextWithoutEscapesComesBackByteForByte) {
  EXPECT_EQ(decode(""), "");
  EXPECT_EQ(decode("=3a9Fq0ZzK1"), "=3a9Fq0ZzK1");
  EXPECT_EQ(decode("x+y"), "x+y");
  EXPECT_EQ(decode("\xD6\xD0+\x80"), "\xD6\xD0+\x80"); // high bytes outside escapes are not touched
}

TEST_F(AnsiToGbTest, DecodesAsciiEscapesAndKeepsPlusSigns) {
  EXPECT_EQ(decode("abc%20def"), "abc def");
  EXPECT_EQ(decode("100%25"), "100%");
  EXPECT_EQ(decode("%41%42"), "AB");
  EXPECT_EQ(decode("%2B+%2b"), "+++");
  EXPECT_EQ(decode("%25%34%31"), "%41"); // a decoded "%" is not decoded again
}

TEST_F(AnsiToGbTest, DecodesMultiByteCharactersWholeAcrossEscapes) {
  if (gbk()) {
    EXPECT_EQ(decode("%E4%B8%AD%E6%96%87"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(decode("a%E4%B8%AD+b"), "a\xD6\xD0+b");
    EXPECT_EQ(decode("%e4%b8%ad"), "\xD6\xD0"); // lower case hexadecimal digits
    EXPECT_EQ(decode("%E2%82%AC"), "\x80");     // the euro sign is 0x80 in code page 936
  } else {
    EXPECT_EQ(decode("%E4%B8%AD%E6%96%87"), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(decode("a%E4%B8%AD+b"), "a\xE4\xB8\xAD+b");
    EXPECT_EQ(decode("%e4%b8%ad"), "\xE4\xB8\xAD");
  }
}

TEST_F(AnsiToGbTest, CharacterOutsideTheCodePageBecomesTheDefaultCharacter) {
  // U+1F600 (four bytes in UTF-8) has no place in code page 936.
  std::string r = decode("a%F0%9F%98%80b");
  if (gbk()) {
    EXPECT_EQ(r, "a??b"); // one default character per UTF-16 unit, as Windows writes it
  } else {
    EXPECT_EQ(r, "a\xF0\x9F\x98\x80"
                 "b");
  }
}

TEST_F(AnsiToGbTest, InvalidUtf8InARunIsReplacedAndNeverGrows) {
  std::string r = decode("%FF%41");
  if (gbk()) {
    EXPECT_EQ(r, "?A");
  } else {
    EXPECT_EQ(r, "\xEF\xBF\xBD"
                 "A");
  }
  const char* broken[] = {"%E4%B8x", "%C0%80", "%ED%A0%80", "%80%80%80%80", "%E4", "%F4%90%80%80z"};
  for (const char* b : broken) {
    std::string in(b);
    std::string out = decode(in);
    EXPECT_LE(out.size(), in.size()) << in;
    EXPECT_FALSE(out.empty()) << in;
  }
}

TEST_F(AnsiToGbTest, PercentWithoutTwoHexDigitsIsCopiedAsItIs) {
  EXPECT_EQ(decode("abc%"), "abc%");
  EXPECT_EQ(decode("abc%4"), "abc%4");
  EXPECT_EQ(decode("abc%4g"), "abc%4g");
  EXPECT_EQ(decode("%zz%41"), "%zzA");
  EXPECT_EQ(decode("%%41"), "%A");
  EXPECT_EQ(decode("%41%"), "A%");
  EXPECT_EQ(decode("%"), "%");
}

TEST_F(AnsiToGbTest, NeverReadsPastTheTerminatorNorWritesPastTheInput) {
  // Bytes after the terminator look like hexadecimal digits; they must not be taken for them.
  std::vector<char> buf = {'a', '%', '4', '\0', '1', '\x55', '\x55'};
  proc_(buf.data(), 3);
  EXPECT_STREQ(buf.data(), "a%4");
  EXPECT_EQ(buf[4], '1');
  EXPECT_EQ(buf[5], '\x55');

  // A guard after the terminator stays as it was, whatever the text.
  const char* texts[] = {"%E4%B8%AD%E6%96%87", "%FF%FE%FD", "abc%", "%41%42", "a%F0%9F%98%80"};
  for (const char* t : texts) {
    std::vector<char> g(t, t + std::strlen(t) + 1);
    g.insert(g.end(), 8, '\x55');
    proc_(g.data(), static_cast<int>(std::strlen(t)));
    for (size_t i = std::strlen(t) + 1; i < g.size(); ++i)
      EXPECT_EQ(g[i], '\x55') << t;
  }
}

TEST_F(AnsiToGbTest, ClearsExactlySizeBytesBeforeWriting) {
  // size beyond the text: everything from the result's terminator up to size is zero.
  std::vector<char> buf(16, 'Z');
  std::memcpy(buf.data(), "%41%42", 7);
  proc_(buf.data(), 12);
  EXPECT_STREQ(buf.data(), "AB");
  for (int i = 2; i < 12; ++i)
    EXPECT_EQ(buf[static_cast<size_t>(i)], '\0') << i;
  EXPECT_EQ(buf[12], 'Z');

  // size 0: nothing is cleared, so the old text's tail stays after the new terminator.
  std::vector<char> keep(8, 'Z');
  std::memcpy(keep.data(), "%41%42", 7);
  proc_(keep.data(), 0);
  EXPECT_EQ(std::string(keep.data(), 7), std::string("AB\0%42\0", 7));

  // An empty text with a size clears those bytes.
  std::vector<char> empty = {'\0', 'x', 'y', 'z'};
  proc_(empty.data(), 3);
  EXPECT_EQ(empty, (std::vector<char>{'\0', '\0', '\0', 'z'}));
}

TEST_F(AnsiToGbTest, LongTextsDecodeWhole) {
  std::string in, expected;
  for (int i = 0; i < 5000; ++i) {
    in += "%E4%B8%AD-";
    expected += gbk() ? "\xD6\xD0-" : "\xE4\xB8\xAD-";
  }
  in += std::string(20000, 'q');
  expected += std::string(20000, 'q');
  EXPECT_EQ(decode(in), expected);
}

} // namespace
