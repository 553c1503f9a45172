// A child gets no descriptor of ours that it was not handed: here one without close-on-exec.
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "platform/child_process.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/program_start.h"
#include "test_util.h"

TEST(ChildDescriptors, AChildSeesNoDescriptorItWasNotHanded) {
  testutil::TempDir dir;
  const std::string out = dir.str() + "answer", fd = std::to_string(::open("/dev/null", O_RDONLY));
  const std::vector<std::string> args = {"-c", "[ -e /proc/self/fd/" + fd + " ] && echo leaked >$1 || echo clean >$1",
                                         "sh", out};
  const std::function<bool()> starts[] = {
      [&] {
        platform::ChildCommand c{u"", {u"/bin/sh"}};
        for (const std::string& a : args)
          c.arguments.push_back(platform::ansiToWide(a));
        return platform::systemChildRunner().runHidden(c, 10000) == platform::ChildResult::Ended;
      },
      [&] { return platform::startProgram("/bin/sh", args) && ::waitpid(-1, nullptr, 0) > 0; }, // reaped here
  };
  for (const auto& start : starts) {
    platform::removeFile(out);
    ASSERT_TRUE(start());
    std::string answer;
    EXPECT_TRUE(platform::readFile(out, &answer) && answer == "clean\n") << answer;
  }
  ::close(std::stoi(fd));
}
