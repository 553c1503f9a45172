// Every child the kit starts on Linux gets its standard descriptors and what it is handed, never
// another descriptor of ours: here one left open without close-on-exec, as a library might.
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/child_process.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/program_start.h"
#include "test_util.h"

TEST(ChildDescriptors, AChildSeesNoDescriptorItWasNotHanded) {
  testutil::TempDir dir;
  const int leaked = ::open("/dev/null", O_RDONLY); // no O_CLOEXEC
  ASSERT_GE(leaked, 3);
  const std::string script = "if [ -e /proc/self/fd/" + std::to_string(leaked) +
                             " ]; then echo leaked > \"$1\"; else echo clean > \"$1\"; fi";
  struct Case {
    const char* what;
    std::function<bool(const std::string& out)> start;
    bool detached; // reaped here once its answer is there
  };
  const Case cases[] = {
      {"the hidden child runner",
       [&](const std::string& out) {
         platform::ChildCommand c;
         for (const std::string& a : {std::string("/bin/sh"), std::string("-c"), script, std::string("sh"), out})
           c.arguments.push_back(platform::ansiToWide(a));
         return platform::systemChildRunner().runHidden(c, 10000) == platform::ChildResult::Ended;
       },
       false},
      {"a program started to run on its own",
       [&](const std::string& out) { return platform::startProgram("/bin/sh", {"-c", script, "sh", out}); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string out = dir.str() + "answer";
    platform::removeFile(out);
    ASSERT_TRUE(c.start(out));
    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((!platform::readFile(out, &answer) || answer.find('\n') == std::string::npos) &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (c.detached) ::waitpid(-1, nullptr, 0);
    EXPECT_EQ(answer, "clean\n");
  }
  ::close(leaked);
}
