// The proxy configuration from the registry values, through an in-memory registry.
#include <cstring>
#include <gtest/gtest.h>
#include <map>

#include "proxy_settings.h"

namespace {

// One key's values in memory; every other key is missing.
class FakeRegistry : public platform::Registry {
public:
  bool keyExists = true;
  std::map<std::string, std::string> values;
  std::string openedKey;

  bool openKey(platform::RegRoot root, const std::string& subKey, uint32_t, platform::RegHandle* out) override {
    openedKey = subKey;
    if (!keyExists || root != platform::RegRoot::LocalMachine || subKey != "software\\orvanta\\formwell") return false;
    *out = this;
    return true;
  }
  bool createKey(platform::RegRoot, const std::string&, uint32_t, platform::RegHandle*) override { return false; }
  bool queryValue(platform::RegHandle, const std::string& name, uint32_t* type, void* buf, uint32_t* size) override {
    auto it = values.find(name);
    if (it == values.end() || it->second.size() > *size) return false;
    std::memcpy(buf, it->second.data(), it->second.size());
    *size = static_cast<uint32_t>(it->second.size());
    *type = platform::kRegSz;
    return true;
  }
  bool setValue(platform::RegHandle, const std::string&, uint32_t, const void*, uint32_t) override { return false; }
  void closeKey(platform::RegHandle) override {}
};

class ProxySettingsTest : public ::testing::Test {
protected:
  void TearDown() override { formwell::proxyMode = 0; }
  FakeRegistry reg;
};

TEST_F(ProxySettingsTest, NoKeyMeansTheSystemsSettingsAndNoCredentials) {
  reg.keyExists = false;
  formwell::applyProxySettings(reg);
  EXPECT_EQ(formwell::proxyMode, 2);
  EXPECT_EQ(formwell::proxyAddress, "http://:");
  EXPECT_EQ(formwell::proxyUser, "");
  EXPECT_EQ(formwell::proxyPassword, "");
}

TEST_F(ProxySettingsTest, AllFiveValuesAreRead) {
  reg.values = {{"PROXY_TYPE", std::string("3\0", 2)},
                {"PROXY_HOST", "proxy.example"},
                {"PROXY_PORT", "3128"},
                {"PROXY_USER", "alice"},
                {"PROXY_PWD", std::string("p\xC3\xA4ss\0", 6)}};
  formwell::ProxySettings s = formwell::loadProxySettings(reg);
  EXPECT_EQ(reg.openedKey, "software\\orvanta\\formwell");
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

TEST_F(ProxySettingsTest, ModeIsTheExactText) {
  reg.values = {{"PROXY_HOST", "h"}, {"PROXY_PORT", "1"}, {"PROXY_USER", "u"}, {"PROXY_PWD", "p"}};
  const std::pair<std::string, int> cases[] = {{"1", 1},  {"2", 2}, {"3", 3},     {" 3", 2}, {"03", 2},
                                               {"3 ", 2}, {"", 2},  {"three", 2}, {"4", 2},  {"1\0003", 1}};
  for (const auto& c : cases) {
    reg.values["PROXY_TYPE"] = c.first;
    formwell::applyProxySettings(reg);
    EXPECT_EQ(formwell::proxyMode, c.second) << "PROXY_TYPE \"" << c.first << "\"";
  }
  reg.values["PROXY_TYPE"] = "1"; // direct, even with every other value filled in
  reg.values.erase("PROXY_PORT");
  formwell::applyProxySettings(reg);
  EXPECT_EQ(formwell::proxyMode, 1);
  EXPECT_EQ(formwell::proxyAddress, "http://h:"); // built in every mode, ":" even without a port
}

TEST_F(ProxySettingsTest, LongValuesStayWithinTheirBuffer) {
  std::string v255(255, 'h');
  reg.values = {{"PROXY_TYPE", "3"},
                {"PROXY_HOST", v255},
                {"PROXY_PORT", std::string(256, '9')},
                {"PROXY_USER", std::string(300, 'u')}};
  formwell::ProxySettings s = formwell::loadProxySettings(reg);
  EXPECT_EQ(s.host, v255);                  // 255 bytes read whole
  EXPECT_EQ(s.port, std::string(256, '9')); // fits the buffer exactly, no terminator: never read past it
  EXPECT_EQ(s.user, "");                    // does not fit: empty
}

} // namespace
