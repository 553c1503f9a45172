// CHttpClient against a scripted Internet layer: how URLs are split, what each call is given,
// the proxy configuration on every connection and request, and the failure paths.
#include <gtest/gtest.h>

#include "fake_internet.h"
#include "http_client.h"
#include "proxy_settings.h"

using formwell::CHttpClient;
using platform::InetAccess;

namespace {

// Remembers the failure texts that reach the diagnostic hook.
class TracingClient : public CHttpClient {
public:
  using CHttpClient::CHttpClient;
  std::vector<std::string> failures;

protected:
  void traceFailure(const std::string&, long, int, const std::string&, const std::string& text) override {
    failures.push_back(text);
  }
};

class HttpClientTest : public ::testing::Test {
protected:
  void SetUp() override { setProxy(0, "http://:", "", ""); }
  void TearDown() override { setProxy(0, "", "", ""); }
  static void setProxy(int mode, const std::string& address, const std::string& user, const std::string& pwd) {
    formwell::proxyMode = mode;
    formwell::proxyAddress = address;
    formwell::proxyUser = user;
    formwell::proxyPassword = pwd;
  }
  // The whole transfer the way the version check and the download do it.
  std::string fetch(TracingClient& c, const std::string& url) {
    std::string body;
    if (!c.openUrl(url, nullptr, nullptr, "Mozilla/4.0 (compatible; )")) return "<no connection>";
    if (!c.sendGet(c.path(), nullptr)) return "<not sent>";
    char buf[7];
    for (int n; (n = c.read(buf, sizeof buf)) > 0;)
      body.append(buf, static_cast<size_t>(n));
    c.close();
    return body;
  }
  testutil::FakeInternet net;
};

TEST(SplitUrl, PortsSchemesAndPaths) {
  auto p = CHttpClient::splitUrl("http://10.1.2.3:8080/table/version.txt");
  EXPECT_EQ(p.scheme, "http");
  EXPECT_EQ(p.host, "10.1.2.3");
  EXPECT_EQ(p.port, 8080);
  EXPECT_EQ(p.path, "/table/version.txt");

  p = CHttpClient::splitUrl("https://10.1.2.3/ccs/table/version.txt");
  EXPECT_EQ(p.port, 443);
  EXPECT_EQ(p.path, "/ccs/table/version.txt");

  p = CHttpClient::splitUrl("H/x"); // no scheme: http
  EXPECT_EQ(p.scheme, "http");
  EXPECT_EQ(p.host, "H");
  EXPECT_EQ(p.port, 80);
  EXPECT_EQ(p.path, "/x");

  p = CHttpClient::splitUrl("H:81");
  EXPECT_EQ(p.host, "H");
  EXPECT_EQ(p.port, 81);
  EXPECT_EQ(p.path, "/");

  EXPECT_EQ(CHttpClient::splitUrl("ftp://F/pub").port, 21);
  EXPECT_EQ(CHttpClient::splitUrl("gopher://G/").port, 80);
  EXPECT_EQ(CHttpClient::splitUrl("HTTPS://G/").port, 80); // only "https" exactly means 443
  EXPECT_EQ(CHttpClient::splitUrl("http://G:/x").port, 0);
  EXPECT_EQ(CHttpClient::splitUrl("http://G:12ab/x").port, 12);
  // A port beyond 65535 must not wrap round to a real one.
  EXPECT_GT(CHttpClient::splitUrl("http://G:65616/x").port, 65535);
}

TEST(SplitUrl, Credentials) {
  auto p = CHttpClient::splitUrl("http://u:p@H:8080/x");
  EXPECT_EQ(p.user, "u");
  EXPECT_EQ(p.password, "p");
  EXPECT_EQ(p.host, "H");
  EXPECT_EQ(p.port, 8080);

  p = CHttpClient::splitUrl("http://u@H/x"); // no ":" before the "@": no credentials
  EXPECT_EQ(p.user, "");
  EXPECT_EQ(p.password, "");
  EXPECT_EQ(p.host, "H");

  p = CHttpClient::splitUrl("http://H/a:b@c"); // an "@" in the path names no host
  EXPECT_EQ(p.host, "H");
  EXPECT_EQ(p.user, "");
  EXPECT_EQ(p.path, "/a:b@c");
}

TEST_F(HttpClientTest, HttpConnectionAndRequestCarryWhatTheServerExpects) {
  net.body = "2.0.0.1\r\n";
  TracingClient c(net);
  EXPECT_EQ(fetch(c, "http://10.0.0.1:8080/table/version.txt"), "2.0.0.1\r\n");
  ASSERT_EQ(net.opens.size(), 1u);
  EXPECT_EQ(net.opens[0].agent, "Mozilla/4.0 (compatible; )");
  EXPECT_EQ(net.opens[0].access, InetAccess::Preconfig); // mode 0, before any settings: the system's
  EXPECT_FALSE(net.opens[0].hasProxyName);
  ASSERT_EQ(net.connects.size(), 1u);
  EXPECT_EQ(net.connects[0].host, "10.0.0.1");
  EXPECT_EQ(net.connects[0].port, 8080);
  EXPECT_EQ(net.connects[0].service, platform::InetService::Http);
  EXPECT_EQ(net.connects[0].flags, 0u);
  EXPECT_FALSE(net.connects[0].hasUser);
  ASSERT_EQ(net.requests.size(), 1u);
  EXPECT_EQ(net.requests[0].verb, "GET");
  EXPECT_EQ(net.requests[0].path, "/table/version.txt");
  EXPECT_EQ(net.requests[0].version, "HTTP/1.0");
  EXPECT_FALSE(net.requests[0].hasReferrer);
  EXPECT_EQ(net.requests[0].acceptTypes, std::vector<std::string>{"*/*"});
  EXPECT_EQ(net.requests[0].flags, platform::kInetFlagNoCacheWrite);
  ASSERT_EQ(net.headers.size(), 1u);
  EXPECT_EQ(net.headers[0].first, "Accept: */*\r\n");
  EXPECT_EQ(net.headers[0].second, platform::kHttpAddReqFlagReplace);
  EXPECT_EQ(net.sends, 1);
  EXPECT_EQ(c.statusCode(), 200u);
  EXPECT_EQ(net.closes, 3); // request, connection, session
  EXPECT_TRUE(c.failures.empty());
}

TEST_F(HttpClientTest, HttpsRequestIsSecureAndAFailedSendIsRepeatedWithRelaxedChecks) {
  net.sendResults = {false, true};
  net.body = "3.0.0.0";
  TracingClient c(net);
  EXPECT_EQ(fetch(c, "https://10.0.0.2/ccs/table/version.txt"), "3.0.0.0");
  EXPECT_EQ(net.connects[0].port, 443);
  EXPECT_EQ(c.port(), 443);
  EXPECT_EQ(c.scheme(), CHttpClient::kHttps);
  EXPECT_EQ(net.requests[0].flags, platform::kInetFlagNoCacheWrite | platform::kInetFlagSecure);
  ASSERT_EQ(net.sends, 2);
  EXPECT_EQ(net.securityFlagsAtSend[0], 0x1u);
  EXPECT_EQ(net.securityFlagsAtSend[1], 0x1u | 0x100u | 0x1000u | 0x2000u); // added to what was there
}

TEST_F(HttpClientTest, AResendThatStillFailsCountsAsSentAndReadsEmpty) {
  net.sendResults = {false};
  net.body = "never seen";
  TracingClient c(net);
  EXPECT_EQ(fetch(c, "https://10.0.0.2/v"), "");
  EXPECT_EQ(net.sends, 2);
  EXPECT_EQ(c.statusCode(), 0u);
  EXPECT_FALSE(c.bodyComplete());
}

// The relaxed resend is for certificates of the bank's own authority, for another name or out of
// date; every other failure (a time-out above all) fails after one send, and nothing is relaxed.
TEST_F(HttpClientTest, OnlyACertificateFaultOverHttpsIsSentAgain) {
  using namespace platform;
  const struct {
    const char* url;
    uint32_t error;
    bool resent;
  } cases[] = {
      {"https://10.0.0.2/v", kInetErrorInvalidCa, true},
      {"https://10.0.0.2/v", kInetErrorSecCertCnInvalid, true},
      {"https://10.0.0.2/v", kInetErrorSecCertDateInvalid, true},
      {"https://10.0.0.2/v", kInetErrorSecCertErrors, true},
      {"https://10.0.0.2/v", kInetErrorTimeout, false},
      {"https://10.0.0.2/v", kInetErrorCannotConnect, false},
      {"https://10.0.0.2/v", kInetErrorSecureFailure, false},
      {"http://10.0.0.2/v", kInetErrorTimeout, false},
      {"http://10.0.0.2/v", kInetErrorInvalidCa, false}, // no certificate over plain HTTP
  };
  for (const auto& k : cases) {
    testutil::FakeInternet layer;
    layer.sendResults = {false, true};
    layer.sendFailure = k.error;
    layer.body = "3.0.0.0";
    TracingClient c(layer);
    EXPECT_EQ(fetch(c, k.url), k.resent ? "3.0.0.0" : "") << k.url << " " << k.error;
    EXPECT_EQ(layer.sends, k.resent ? 2 : 1) << k.url << " " << k.error;
    EXPECT_EQ(layer.securityFlags, k.resent ? 0x3101u : 0x1u) << k.url << " " << k.error;
    EXPECT_EQ(c.statusCode(), k.resent ? 200u : 0u) << k.url << " " << k.error;
  }
}

TEST_F(HttpClientTest, SchemesAndDefaultPorts) {
  TracingClient c(net);
  EXPECT_FALSE(c.openUrl("HTTP://H/x", nullptr, nullptr, "a")); // capitals are no known scheme
  EXPECT_EQ(c.failures, std::vector<std::string>{"connect failed..."});
  EXPECT_TRUE(net.opens.empty());

  EXPECT_TRUE(c.openUrl("ftp://F/pub/f", nullptr, nullptr, "a"));
  EXPECT_EQ(net.connects.back().service, platform::InetService::Ftp);
  EXPECT_EQ(net.connects.back().flags, platform::kInetFlagPassive);
  EXPECT_EQ(net.connects.back().port, 21);
  c.close();

  EXPECT_TRUE(c.openUrl("http://H:0/x", nullptr, nullptr, "a")); // port 0: the scheme's default
  EXPECT_EQ(net.connects.back().port, 80);
  EXPECT_EQ(c.port(), 80);
  c.close();

  EXPECT_TRUE(c.openUrl("httpx://H/x", nullptr, nullptr, "a")); // by prefix
  EXPECT_EQ(c.scheme(), CHttpClient::kHttp);
  c.close();

  size_t before = net.connects.size();
  EXPECT_FALSE(c.openUrl("http://H:70000/x", nullptr, nullptr, "a"));
  EXPECT_EQ(net.connects.size(), before); // never sent to port 70000 - 65536
}

TEST_F(HttpClientTest, CredentialsFromTheUrlGiveWayToExplicitOnes) {
  TracingClient c(net);
  EXPECT_TRUE(c.openUrl("http://u:p@H/x", nullptr, nullptr, "a"));
  EXPECT_EQ(net.connects.back().user, "u");
  EXPECT_EQ(net.connects.back().password, "p");
  EXPECT_EQ(c.user(), "u");
  c.close();
  EXPECT_TRUE(c.openUrl("http://u:p@H/x", "U", nullptr, "a"));
  EXPECT_EQ(net.connects.back().user, "U");
  EXPECT_EQ(net.connects.back().password, "p");
  c.close();
  EXPECT_TRUE(c.openUrl("http://u:@H/x", nullptr, nullptr, "a")); // an empty password is none
  EXPECT_TRUE(net.connects.back().hasUser);
  EXPECT_FALSE(net.connects.back().hasPassword);
}

TEST_F(HttpClientTest, ProxyModesChooseTheAccessType) {
  TracingClient c(net);
  setProxy(1, "http://p:3128", "u", "w");
  ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
  EXPECT_EQ(net.opens.back().access, InetAccess::Direct);
  EXPECT_FALSE(net.opens.back().hasProxyName);
  ASSERT_TRUE(c.sendGet(c.path(), nullptr));
  EXPECT_TRUE(net.options.empty()); // no credentials outside mode 3
  c.close();

  setProxy(2, "http://p:3128", "u", "w");
  ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
  EXPECT_EQ(net.opens.back().access, InetAccess::Preconfig);
  c.close();

  setProxy(3, "http://p:", "", "");
  ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
  EXPECT_EQ(net.opens.back().access, InetAccess::Proxy);
  EXPECT_EQ(net.opens.back().proxyName, "http://p:");
  c.close();
}

TEST_F(HttpClientTest, ProxyCredentialsOnlyAsAPairAndOnEveryRequest) {
  TracingClient c(net);
  setProxy(3, "http://p:3128", "alice", "");
  ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
  ASSERT_TRUE(c.sendGet(c.path(), nullptr));
  EXPECT_TRUE(net.options.empty());
  c.close();

  setProxy(3, "http://p:3128", "", "secret");
  ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
  ASSERT_TRUE(c.sendGet(c.path(), nullptr));
  EXPECT_TRUE(net.options.empty());
  c.close();

  setProxy(3, "http://p:3128", "alice", "secret");
  ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
  ASSERT_TRUE(c.sendGet(c.path(), nullptr));
  ASSERT_TRUE(c.sendGet("/y", nullptr));
  ASSERT_EQ(net.options.size(), 4u);
  EXPECT_EQ(net.options[0].option, platform::kInetOptionProxyUsername);
  EXPECT_EQ(net.options[0].text, "alice");
  EXPECT_EQ(net.options[0].length, 6u); // the NUL counted
  EXPECT_EQ(net.options[1].option, platform::kInetOptionProxyPassword);
  EXPECT_EQ(net.options[1].text, "secret");
  EXPECT_EQ(net.options[1].length, 7u);
  EXPECT_EQ(c.path(), "/y");
}

TEST_F(HttpClientTest, FailuresCloseWhatWasOpenedAndReportTheirText) {
  {
    net.openFails = true;
    TracingClient c(net);
    EXPECT_FALSE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
    EXPECT_EQ(c.failures, std::vector<std::string>{"open internet failed..."});
    net.openFails = false;
  }
  {
    net.attemptResult = 2;
    TracingClient c(net);
    int closed = net.closes;
    EXPECT_FALSE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
    EXPECT_EQ(c.failures, std::vector<std::string>{"connect failed..."});
    EXPECT_EQ(net.closes - closed, 2); // connection and session
    net.attemptResult = 0;
  }
  {
    TracingClient c(net);
    EXPECT_FALSE(c.sendGet("/x", nullptr));
    char b[4];
    EXPECT_EQ(c.read(b, 4), -1);
    EXPECT_EQ(c.failures, (std::vector<std::string>{"handle not opened...", "connection failed..."}));
  }
  {
    net.requestFails = true;
    TracingClient c(net);
    ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
    EXPECT_FALSE(c.sendGet(c.path(), nullptr));
    char b[4];
    EXPECT_EQ(c.read(b, 4), -1); // after a failed send, read gives up at once
    EXPECT_EQ(c.failures, (std::vector<std::string>{"request failed...", "connection failed..."}));
    net.requestFails = false;
  }
  {
    net.headersFail = true;
    TracingClient c(net);
    ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
    EXPECT_FALSE(c.sendGet(c.path(), nullptr));
    EXPECT_EQ(c.failures, std::vector<std::string>{"additional header failed..."});
    net.headersFail = false;
  }
  {
    net.readFails = true;
    TracingClient c(net);
    ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
    ASSERT_TRUE(c.sendGet(c.path(), nullptr));
    char b[4];
    EXPECT_EQ(c.read(b, 4), -1);
    net.readFails = false;
    EXPECT_EQ(c.read(b, 4), -1); // the request is gone
    EXPECT_FALSE(c.bodyComplete());
    EXPECT_EQ(c.failures, (std::vector<std::string>{"response failed...", "connection failed..."}));
  }
}

TEST_F(HttpClientTest, TheBodyComesInThePiecesTheLayerHandsOut) {
  net.body = std::string(100, 'x');
  net.piece = 30;
  TracingClient c(net);
  ASSERT_TRUE(c.openUrl("http://H/x", nullptr, nullptr, "a"));
  ASSERT_TRUE(c.sendGet(c.path(), nullptr));
  char b[64];
  EXPECT_EQ(c.read(b, 64), 30);
  EXPECT_EQ(c.read(b, 20), 20);
  EXPECT_EQ(c.read(b, 64), 30);
  EXPECT_EQ(c.read(b, 64), 20);
  EXPECT_FALSE(c.bodyComplete()); // not until the end has been read
  EXPECT_EQ(c.read(b, 64), 0);
  EXPECT_TRUE(c.bodyComplete());
}

// How a reader to the end learns whether the body is whole: the layer's failure, or a stream
// that ends short of (or beyond) its declared length, reads as -1.
TEST_F(HttpClientTest, ABodyIsWholeOnlyWhenItEndsCleanlyWithItsDeclaredLength) {
  struct Case {
    const char* name;
    long long declared;
    size_t failAfter;
    int last;
    const char* text;
  };
  const Case cases[] = {
      {"no length declared", -1, std::string::npos, 0, nullptr},
      {"the declared length", 8, std::string::npos, 0, nullptr},
      {"closed early (as WinINet reports it)", 12, std::string::npos, -1, "response failed..."},
      {"longer than declared", 4, std::string::npos, -1, "response failed..."},
      {"the transfer broke off", 8, 4, -1, "response failed..."},
  };
  for (const Case& k : cases) {
    testutil::FakeInternet layer;
    layer.body = "2.0.0.7\n";
    layer.piece = 3;
    layer.declaredLength = k.declared;
    layer.failAfter = k.failAfter;
    TracingClient c(layer);
    ASSERT_TRUE(c.openUrl("http://H/version.txt", nullptr, nullptr, "a"));
    ASSERT_TRUE(c.sendGet(c.path(), nullptr));
    char b[16];
    int n;
    while ((n = c.read(b, sizeof b)) > 0) {
    }
    EXPECT_EQ(n, k.last) << k.name;
    EXPECT_EQ(c.bodyComplete(), k.last == 0) << k.name;
    EXPECT_EQ(c.failures, k.text ? std::vector<std::string>{k.text} : std::vector<std::string>{}) << k.name;
    EXPECT_EQ(c.read(b, sizeof b), k.last == 0 ? 0 : -1) << k.name; // and so it stays
    ASSERT_TRUE(c.sendGet(c.path(), nullptr));
    EXPECT_FALSE(c.bodyComplete()) << k.name; // a new request starts unread
  }
}

} // namespace
