// Where Library looks for a library: beside the program, then the current folder, and nowhere else.
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/library.h"
#include "platform/module.h"
#include "test_util.h"

namespace {
bool hideProgramPath = false; // makes the program's own path unknown, as when /proc is not mounted
} // namespace

// Takes the place of the C library's readlink for the whole test program.
extern "C" ssize_t readlink(const char* path, char* buf, size_t size) {
  if (hideProgramPath && std::strcmp(path, "/proc/self/exe") == 0) {
    errno = ENOENT;
    return -1;
  }
  return static_cast<ssize_t>(syscall(SYS_readlinkat, AT_FDCWD, path, buf, size));
}

namespace {

// Runs in an empty folder of its own, and goes back where it was at the end.
class LibrarySearch : public ::testing::Test {
protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override {
    hideProgramPath = false;
    std::filesystem::current_path(previous_);
  }
  testutil::TempDir dir_;
  std::filesystem::path previous_;
};

TEST_F(LibrarySearch, WithTheProgramsFolderUnknownTheSystemPathIsNotSearched) {
  // zlib's development library is on the system's search path (zlib1g-dev).
  void* system = dlopen("libz.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(system, nullptr) << "libz.so is not on the system's search path";
  dlclose(system);
  hideProgramPath = true;
  ASSERT_EQ(platform::moduleFolder(), "");
  platform::Library lib;
  EXPECT_FALSE(lib.load("z"));
}

TEST_F(LibrarySearch, WithTheProgramsFolderUnknownTheCurrentFolderIsStillSearched) {
  const std::string beside = platform::moduleFolder() + platform::Library::fileName("gbconv");
  std::filesystem::copy_file(beside, dir_.path() / platform::Library::fileName("gbconv"));
  hideProgramPath = true;
  platform::Library lib;
  EXPECT_TRUE(lib.load("gbconv"));
  EXPECT_NE(lib.symbol("ANSIToGB"), nullptr);
}

} // namespace
