// The version check's waits against a scripted Internet layer whose answers take their time.
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "fake_internet.h"
#include "version_check.h"

using namespace formwell;

namespace {

// Answers every send after a delay.
class SlowInternet : public testutil::FakeInternet {
public:
  explicit SlowInternet(int ms, std::string answer) : delay(ms) { body = std::move(answer); }
  bool send(platform::InetHandle h) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return FakeInternet::send(h);
  }
  int delay;
};

std::shared_ptr<VersionFetch> fetchFrom(std::shared_ptr<platform::Internet> net) {
  auto f = std::make_shared<VersionFetch>();
  f->url = "http://10.0.0.1:8080/table/";
  f->internet = std::move(net);
  return f;
}

TEST(VersionCheck, AFetchGivenUpFinishesOnItsOwnStateAndNeverReachesTheNextOne) {
  std::weak_ptr<VersionFetch> late;
  {
    auto slow = std::make_shared<SlowInternet>(400, "late");
    auto first = fetchFrom(slow);
    late = first;
    EXPECT_EQ(waitForVersion(first, 100), ""); // given up; the test drops the fetch and its layer
  }
  EXPECT_FALSE(late.expired()); // the running fetch keeps them alive
  auto second = fetchFrom(std::make_shared<SlowInternet>(0, "second"));
  EXPECT_EQ(waitForVersion(second, 1000), "second");
  for (int i = 0; i < 50 && !late.expired(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(late.expired()); // the late fetch has ended and released everything
  EXPECT_EQ(second->result, "second");
}

TEST(VersionCheck, AnAnswerWithinTheLimitIsTakenAtTheNextPoll) {
  auto f = fetchFrom(std::make_shared<SlowInternet>(150, "2.0.0.1"));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitForVersion(f, 2000), "2.0.0.1");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

// Only a whole 2xx body is a version; a body that broke off is none, however much of it came.
TEST(VersionCheck, OnlyAWholeSuccessfulBodyIsAVersion) {
  struct Case {
    const char* name;
    uint32_t status;
    long long declared;
    size_t failAfter;
    bool readFails;
    const char* version;
  };
  const Case cases[] = {
      {"whole, length declared", 200, 8, std::string::npos, false, "2.0.0.7"}, // its line break trimmed
      {"whole, no length", 200, -1, std::string::npos, false, "2.0.0.7"},
      {"closed after 4 of 8 bytes", 200, 12, std::string::npos, false, ""},
      {"reset after 4 bytes", 200, -1, 4, false, ""},
      {"the first read fails", 200, -1, std::string::npos, true, ""},
      {"an error page", 404, 8, std::string::npos, false, ""},
  };
  for (const Case& k : cases) {
    auto net = std::make_shared<testutil::FakeInternet>();
    net->body = "2.0.0.7\n";
    net->status = k.status;
    net->declaredLength = k.declared;
    net->failAfter = k.failAfter;
    net->readFails = k.readFails;
    auto f = fetchFrom(net);
    fetchVersion(f);
    EXPECT_EQ(f->result, k.version) << k.name;
    EXPECT_EQ(f->done.load(), 1) << k.name;
  }
}

// The bound is the checker's own cut, not a broken body: what was read up to it is judged like any
// other text, and 64 KiB of digits are no version.
TEST(VersionCheck, ABodyCutAtTheBoundIsTakenAsFarAsItGoes) {
  auto net = std::make_shared<testutil::FakeInternet>();
  net->body = std::string(kVersionBodyLimit + 10, '9');
  net->failAfter = kVersionBodyLimit + 5; // would break off, but is never read that far
  auto f = fetchFrom(net);
  fetchVersion(f);
  EXPECT_EQ(f->result, "");
}

// What a hostile or careless version.txt holds, and the version it gives: one that can be recorded
// and read back as it is, or none.
TEST(VersionCheck, TheVersionIsTrimmedAndOnlyPlainTextOfAFewBytesCounts) {
  const std::pair<std::string, std::string> cases[] = {
      {"2.0.0.8", "2.0.0.8"},
      {"2.0.0.8\n", "2.0.0.8"},
      {" \t2.0.0.8 \r\n\n", "2.0.0.8"},
      {std::string("2.0.0.8\0\x1b[2J", 11), "2.0.0.8"}, // up to the first NUL, as before
      {std::string("\0002.0.0.8", 8), ""},
      {"\r\n \t", ""},
      {"2.0.0.8\r\n2.0.0.9", ""}, // two lines
      {"2.0.0.8\x1b[2J", ""},
      {std::string("2.0.\x7f") + "0.8", ""},
      {std::string(kVersionTextLimit, '9'), std::string(kVersionTextLimit, '9')},
      {std::string(kVersionTextLimit + 1, '9'), ""},
      {"2.0.0.8 \xb2\xe2\xca\xd4", "2.0.0.8 \xb2\xe2\xca\xd4"}, // GBK text is text
  };
  for (const auto& c : cases)
    EXPECT_EQ(versionFromBody(c.first), c.second) << testing::PrintToString(c.first);
}

} // namespace
