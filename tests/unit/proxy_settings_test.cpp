// The proxy configuration from the registry values, through an in-memory registry.
#include <gtest/gtest.h>

#include "fake_registry.h"
#include "proxy_settings.h"

namespace {

const char kKey[] = "software\\orvanta\\formwell";

class ProxySettingsTest : public ::testing::Test {
protected:
  void TearDown() override { formwell::proxyMode = 0; }
  void setAll(std::initializer_list<std::pair<const char*, std::string>> values) {
    for (const auto& v : values)
      reg.set(kKey, v.first, v.second);
  }
  testutil::FakeRegistry reg;
};

TEST_F(ProxySettingsTest, NoKeyMeansTheSystemsSettingsAndNoCredentials) {
  reg.set("software\\orvanta\\other", "PROXY_TYPE", "3", platform::RegRoot::CurrentUser); // another key
  formwell::applyProxySettings(reg);
  EXPECT_EQ(formwell::proxyMode, 2);
  EXPECT_EQ(formwell::proxyAddress, "http://:");
  EXPECT_EQ(formwell::proxyUser, "");
  EXPECT_EQ(formwell::proxyPassword, "");
}

TEST_F(ProxySettingsTest, AllFiveValuesAreRead) {
  setAll({{"PROXY_TYPE", std::string("3\0", 2)},
          {"PROXY_HOST", "proxy.example"},
          {"PROXY_PORT", "3128"},
          {"PROXY_USER", "alice"},
          {"PROXY_PWD", std::string("p\xC3\xA4ss\0", 6)}});
  formwell::ProxySettings s = formwell::loadProxySettings(reg);
  EXPECT_EQ(reg.lastOpened, "software\\orvanta\\formwell");
  EXPECT_EQ(s.type, "3");
  EXPECT_EQ(s.host, "proxy.example");
  EXPECT_EQ(s.port, "3128");
  EXPECT_EQ(s.user, "alice");
  EXPECT_EQ(s.password, "p\xC3\xA4ss");
  formwell::applyProxySettings(reg);
  EXPECT_EQ(formwell::proxyMode, 3);
  EXPECT_EQ(formwell::proxyAddress, "http://proxy.example:3128");
  EXPECT_EQ(formwell::proxyUser, "alice");
}

// Each value comes from the first of HKLM's 32-bit view, its 64-bit view (where the 64-bit
// regedit writes) and HKEY_CURRENT_USER that holds it; the 32-bit key exists, as on an installed
// machine, with currentversion only. A value too long to read is there: it reads as empty.
TEST_F(ProxySettingsTest, EachValueComesFromTheFirstViewThatHoldsIt) {
  const std::string x300(300, 'x');
  const char* const cases[][4] = {{"a", nullptr, nullptr, "a"}, {nullptr, "b", nullptr, "b"},
                                  {nullptr, nullptr, "c", "c"}, {"a", "b", "c", "a"},
                                  {nullptr, "b", "c", "b"},     {"", "b", "c", ""},
                                  {x300.c_str(), "b", "c", ""}, {nullptr, nullptr, nullptr, ""}};
  for (const auto& c : cases) {
    testutil::FakeRegistry r;
    r.set(kKey, "currentversion", "1.0.0.0", platform::RegRoot::LocalMachine, platform::kKeyWow64_32Key);
    for (const char* name : {"PROXY_HOST", "PROXY_TYPE", "PROXY_PORT", "PROXY_USER", "PROXY_PWD"}) {
      if (c[0]) r.set(kKey, name, c[0], platform::RegRoot::LocalMachine, platform::kKeyWow64_32Key);
      if (c[1]) r.set(kKey, name, c[1], platform::RegRoot::LocalMachine, platform::kKeyWow64_64Key);
      if (c[2]) r.set(kKey, name, c[2], platform::RegRoot::CurrentUser);
    }
    formwell::ProxySettings s = formwell::loadProxySettings(r);
    EXPECT_EQ(s.host + "|" + s.type + "|" + s.port + "|" + s.user + "|" + s.password,
              std::string(c[3]) + "|" + c[3] + "|" + c[3] + "|" + c[3] + "|" + c[3])
        << (c[0] ? "32 " : "") << (c[1] ? "64 " : "") << (c[2] ? "user" : "");
  }
}

TEST_F(ProxySettingsTest, ModeIsTheExactText) {
  setAll({{"PROXY_HOST", "h"}, {"PROXY_PORT", "1"}, {"PROXY_USER", "u"}, {"PROXY_PWD", "p"}});
  const std::pair<std::string, int> cases[] = {{"1", 1},  {"2", 2}, {"3", 3},     {" 3", 2}, {"03", 2},
                                               {"3 ", 2}, {"", 2},  {"three", 2}, {"4", 2},  {"1\0003", 1}};
  for (const auto& c : cases) {
    reg.set(kKey, "PROXY_TYPE", c.first);
    formwell::applyProxySettings(reg);
    EXPECT_EQ(formwell::proxyMode, c.second) << "PROXY_TYPE \"" << c.first << "\"";
  }
  reg.set(kKey, "PROXY_TYPE", "1"); // direct, even with every other value filled in
  reg.erase(kKey, "PROXY_PORT");
  formwell::applyProxySettings(reg);
  EXPECT_EQ(formwell::proxyMode, 1);
  EXPECT_EQ(formwell::proxyAddress, "http://h:"); // built in every mode, ":" even without a port
}

TEST_F(ProxySettingsTest, LongValuesStayWithinTheirBuffer) {
  std::string v255(255, 'h');
  setAll({{"PROXY_TYPE", "3"},
          {"PROXY_HOST", v255},
          {"PROXY_PORT", std::string(256, '9')},
          {"PROXY_USER", std::string(300, 'u')}});
  formwell::ProxySettings s = formwell::loadProxySettings(reg);
  EXPECT_EQ(s.host, v255);                  // 255 bytes read whole
  EXPECT_EQ(s.port, std::string(256, '9')); // fits the buffer exactly, no terminator: never read past it
  EXPECT_EQ(s.user, "");                    // does not fit: empty
}

} // namespace
