// The check of signed update packages: the DER reading, and the whole check through the platform's
// crypto against signatures that openssl made at configure time with this build's test keys.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "package_signature.h"
#include "signature_vectors.h"
#include "test_util.h"

using formwell::parseDerSignature;
using formwell::updatePublicKey;
using formwell::verifyFileSignature;

namespace {

std::string fromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string signedText() {
  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += "formwell update package 0123456789\n";
  return text;
}

std::string writeFile(const testutil::TempDir& dir, const std::string& name, const std::string& bytes) {
  std::string path = dir.str() + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

} // namespace

TEST(PackageSignature, DerReadingIsStrict) {
  const std::string r32(32, '\x11'), s32(32, '\x22');
  struct Case {
    const char* what;
    std::string der;
    bool ok;
  } cases[] = {
      {"two 32-byte values", std::string("\x30\x44\x02\x20", 4) + r32 + "\x02\x20" + s32, true},
      {"a high value with its zero byte",
       std::string("\x30\x45\x02\x21\x00", 5) + std::string(32, '\x91') + "\x02\x20" + s32, true},
      {"short values", std::string("\x30\x06\x02\x01\x05\x02\x01\x07", 8), true},
      {"empty", "", false},
      {"trailing byte", std::string("\x30\x06\x02\x01\x05\x02\x01\x07\x00", 9), false},
      {"cut short", std::string("\x30\x44\x02\x20", 4) + r32 + "\x02\x20" + s32.substr(0, 31), false},
      {"sequence length past the end", std::string("\x30\x7f\x02\x01\x05\x02\x01\x07", 8), false},
      {"negative value", std::string("\x30\x06\x02\x01\x85\x02\x01\x07", 8), false},
      {"zero value", std::string("\x30\x06\x02\x01\x00\x02\x01\x07", 8), false},
      {"value of 33 significant bytes", std::string("\x30\x45\x02\x21\x01", 5) + r32 + "\x02\x20" + s32, false},
      {"third integer", std::string("\x30\x09\x02\x01\x05\x02\x01\x07\x02\x01\x01", 11), false},
      {"not a sequence", std::string("\x31\x06\x02\x01\x05\x02\x01\x07", 8), false},
      {"huge long-form length", std::string("\x30\x84\xff\xff\xff\xff", 6), false},
  };
  for (const Case& c : cases) {
    uint8_t rs[64];
    EXPECT_EQ(parseDerSignature(c.der, rs), c.ok) << c.what;
  }
  uint8_t rs[64];
  ASSERT_TRUE(parseDerSignature(std::string("\x30\x06\x02\x01\x05\x02\x01\x07", 8), rs));
  EXPECT_EQ(rs[31], 5);
  EXPECT_EQ(rs[0], 0);
  EXPECT_EQ(rs[63], 7);
}

TEST(PackageSignature, OnlyTheKeysOwnSignatureOfTheSameBytesIsValid) {
  ASSERT_TRUE(updatePublicKey().present);
  testutil::TempDir dir;
  const std::string text = signedText();
  const std::string good = fromHex(k_update_signature_hex);
  const std::string other = fromHex(k_other_signature_hex);
  std::string changed = text;
  changed[40000] ^= 1;
  std::string path = writeFile(dir, "table.zip", text);

  EXPECT_TRUE(verifyFileSignature(path, good, updatePublicKey()));
  EXPECT_FALSE(verifyFileSignature(path, other, updatePublicKey())) << "signed by another key";
  EXPECT_FALSE(verifyFileSignature(writeFile(dir, "changed.zip", changed), good, updatePublicKey()))
      << "archive changed after signing";
  EXPECT_FALSE(verifyFileSignature(writeFile(dir, "cut.zip", text.substr(0, 65536)), good, updatePublicKey()))
      << "archive cut after signing";
  EXPECT_FALSE(verifyFileSignature(path, good.substr(0, good.size() - 1), updatePublicKey())) << "cut signature";
  EXPECT_FALSE(verifyFileSignature(path, "", updatePublicKey())) << "no signature";
  EXPECT_FALSE(verifyFileSignature(dir.str() + "missing.zip", good, updatePublicKey())) << "no archive";

  formwell::UpdateKey none;
  EXPECT_FALSE(verifyFileSignature(path, good, none)) << "no key compiled in";
  formwell::UpdateKey offCurve = updatePublicKey();
  offCurve.xy[63] ^= 1;
  EXPECT_FALSE(verifyFileSignature(path, good, offCurve)) << "a point that is not on the curve";
}

TEST(PackageSignature, OnlyAStatementSignedForThisPlatformThisVersionAndTheseBytesCoversThePackage) {
  testutil::TempDir dir;
  const std::string text = signedText(), good = k_update_statement;
  const std::string other = formwell::kThisPlatform == std::string("linux") ? "windows" : "linux";
  std::string changed = text, damaged = good, otherVersion = good, upper = good, otherPlatform = good;
  otherPlatform.replace(otherPlatform.find(formwell::kThisPlatform), std::strlen(formwell::kThisPlatform), other);
  changed[40000] ^= 1;
  damaged[damaged.size() - 20] = damaged[damaged.size() - 20] == '0' ? '1' : '0';
  otherVersion.replace(otherVersion.find("2.0.0.9"), 7, "2.0.0.8");
  std::transform(upper.begin() + upper.find("signature "), upper.end(), upper.begin() + upper.find("signature "),
                 [](char c) { return c >= 'a' && c <= 'f' ? c - 32 : c; });
  struct Case {
    const char* what;
    std::string statement, version, package;
    bool coversVersion, coversPackage;
  } cases[] = {
      {"the genuine statement", good, "2.0.0.9", text, true, true},
      {"a statement for another version", good, "2.0.0.8", text, false, false},
      {"version.txt with a line break", good, "2.0.0.9\n", text, false, false},
      {"bytes changed, same size", good, "2.0.0.9", changed, true, false},
      {"package cut", good, "2.0.0.9", text.substr(0, 65536), true, false},
      {"signed by another key", k_other_statement, "2.0.0.9", text, false, false},
      {"damaged signature", damaged, "2.0.0.9", text, false, false},
      {"version changed after signing", otherVersion, "2.0.0.8", text, false, false},
      {"trailing junk", good + "x", "2.0.0.9", text, false, false},
      {"upper-case signature", upper, "2.0.0.9", text, false, false},
      {"the other platform's genuine statement", k_update_other_platform_statement, "2.0.0.9", text, false, false},
      {"platform changed after signing", otherPlatform, "2.0.0.9", text, false, false},
      {"the older form, which names no platform", k_update_old_statement, "2.0.0.9", text, false, false},
  };
  for (const Case& c : cases) {
    std::string path = writeFile(dir, "table.zip", c.package);
    EXPECT_EQ(formwell::statementCoversVersion(c.statement, c.version, updatePublicKey()), c.coversVersion) << c.what;
    EXPECT_EQ(formwell::statementCoversPackage(c.statement, c.version, path, updatePublicKey()), c.coversPackage)
        << c.what;
  }
  EXPECT_FALSE(formwell::statementCoversVersion(good, "2.0.0.9", formwell::UpdateKey{})) << "no key compiled in";
}
