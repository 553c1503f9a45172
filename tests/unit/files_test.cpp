#include <filesystem>
#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/folder_list.h"
#include "platform/library.h"
#include "platform/module.h"
#include "test_util.h"

namespace fs = std::filesystem;

TEST(Files, MakeSurePathExistsCreatesFoldersButNotTheFileName) {
  testutil::TempDir dir;
  ASSERT_TRUE(platform::makeSurePathExists(dir.str() + "a\\b/c\\file.txt"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "a" / "b" / "c"));
  EXPECT_FALSE(fs::exists(dir.path() / "a" / "b" / "c" / "file.txt"));
  ASSERT_TRUE(platform::makeSurePathExists(dir.str() + "x\\y\\"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "x" / "y"));
  ASSERT_TRUE(platform::makeSurePathExists(dir.str() + "x\\y\\")); // again: nothing to do
  // A file where a folder should be: the path cannot be made.
  platform::OutFile f;
  ASSERT_TRUE(f.createAlways(dir.str() + "plain"));
  f.close();
  EXPECT_FALSE(platform::makeSurePathExists(dir.str() + "plain\\sub\\file"));
}

TEST(Files, CreateAlwaysTruncatesAndWritesEveryByte) {
  testutil::TempDir dir;
  std::string path = dir.str() + "out.bin";
  std::string big(3 << 20, 'x');
  {
    platform::OutFile f;
    ASSERT_TRUE(f.createAlways(path));
    ASSERT_TRUE(f.write(big.data(), big.size()));
  }
  {
    platform::OutFile f;
    ASSERT_TRUE(f.createAlways(path));
    ASSERT_TRUE(f.write("abc", 3));
    ASSERT_TRUE(f.write("", 0));
  }
  std::string back;
  ASSERT_TRUE(platform::readFile(path, &back));
  EXPECT_EQ(back, "abc");
  EXPECT_TRUE(platform::pathExists(path));
  EXPECT_TRUE(platform::pathExists(dir.str()));
  EXPECT_FALSE(platform::pathExists(dir.str() + "missing"));
  platform::OutFile g;
  EXPECT_FALSE(g.createAlways(dir.str() + "no\\such\\folder\\f.txt"));
  EXPECT_FALSE(g.write("a", 1));
  EXPECT_FALSE(platform::readFile(dir.str() + "missing", &back));
}

TEST(Files, FlushFileSystemFlushesAFolderAndFailsWhereThereIsNone) {
  testutil::TempDir dir;
  EXPECT_TRUE(platform::flushFileSystem(dir.str()));
  EXPECT_FALSE(platform::flushFileSystem(dir.str() + "missing")); // Windows once answered true for anything
}

TEST(Module, ProgramPathNamesThisTestProgram) {
  std::string p = platform::modulePath();
  ASSERT_FALSE(p.empty());
  EXPECT_NE(p.find("platform_test"), std::string::npos) << p;
  EXPECT_TRUE(platform::pathExists(p));
  std::string folder = platform::moduleFolder();
  EXPECT_EQ(p.compare(0, folder.size(), folder), 0);
}

TEST(Library, LoadsByPlainNameBesideTheProgramAndFindsTheExport) {
  platform::Library lib;
  ASSERT_TRUE(lib.load("gbconv")) << platform::Library::fileName("gbconv");
  EXPECT_NE(lib.symbol("ANSIToGB"), nullptr);
  EXPECT_EQ(lib.symbol("ANSIToGB@8"), nullptr); // exported undecorated, not as stdcall
  EXPECT_EQ(lib.symbol("no_such_routine"), nullptr);
  lib.free();
  EXPECT_FALSE(lib.isLoaded());
  EXPECT_EQ(lib.symbol("ANSIToGB"), nullptr);
  EXPECT_FALSE(lib.load("no-such-library"));
}
