#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "archive_builder.h"
#include "archive_reader.h"
#include "test_util.h"

namespace fs = std::filesystem;
using archtest::ZipEntry;

namespace {

struct Entry {
  std::string name;
  std::string data;
  int isFile;
};

// Every entry the reader hands out, or the position at which getFile failed.
std::vector<Entry> readAllEntries(CArchiveReader& reader, int* failedAt = nullptr) {
  std::vector<Entry> out;
  int n = reader.getFileCount();
  for (int i = 0; i < n; ++i) {
    const unsigned char* data = nullptr;
    uint32_t size = 0;
    int isFile = -1;
    std::string name;
    if (!reader.getFile(i, &data, &size, &isFile, &name)) {
      if (failedAt) *failedAt = i;
      return out;
    }
    out.push_back({name, std::string(reinterpret_cast<const char*>(data), size), isFile});
  }
  if (failedAt) *failedAt = -1;
  return out;
}

class ArchiveReaderTest : public ::testing::Test {
protected:
  std::string file(const std::string& name, const std::string& bytes) {
    std::string path = dir.str() + name;
    archtest::writeBytes(path, bytes);
    return path;
  }
  testutil::TempDir dir;
};

std::string threeFileTar() {
  return archtest::tarEntry("a.txt", "first") + archtest::tarEntry("dir/", "", '5') +
         archtest::tarEntry("dir/b.txt", std::string(700, 'b')) + archtest::tarEnd();
}

} // namespace

TEST_F(ArchiveReaderTest, ZipEntriesComeInStoredOrderWithFoldersAndNames) {
  std::string page = "<html>" + std::string(5000, 'x') + "</html>";
  std::string path = file("p.zip", archtest::buildZip({{"eb_df/", "", false},
                                                       {"eb_df/css/", "", false},
                                                       {"eb_df/index.html", page},
                                                       {"gbconv.dll", "MZ stored", false},
                                                       {"empty.txt", ""}}));
  CArchiveReader reader;
  reader.close();
  ASSERT_EQ(reader.open(path), 1);
  EXPECT_EQ(reader.kind(), CArchiveReader::kZip);
  ASSERT_EQ(reader.getFileCount(), 5);
  auto entries = readAllEntries(reader);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].name, "eb_df/");
  EXPECT_EQ(entries[0].data, "");
  EXPECT_EQ(entries[1].name, "eb_df/css/");
  EXPECT_EQ(entries[2].name, "eb_df/index.html");
  EXPECT_EQ(entries[2].data, page);
  EXPECT_EQ(entries[3].data, "MZ stored");
  EXPECT_EQ(entries[4].data, "");
  // Out of order, and backwards: the same bytes.
  const unsigned char* data;
  uint32_t size;
  int isFile;
  std::string name;
  ASSERT_EQ(reader.getFile(3, &data, &size, &isFile, &name), 1);
  EXPECT_EQ(name, "gbconv.dll");
  ASSERT_EQ(reader.getFile(2, &data, &size, &isFile, &name), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), page);
  EXPECT_EQ(data[size], 0); // a NUL after the data
  EXPECT_EQ(reader.getFile(5, &data, &size, &isFile, &name), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Could not get file at the specified position from the archive !");
  EXPECT_EQ(reader.getFile(-1, &data, &size, &isFile, &name), 0);
  ASSERT_EQ(reader.getFile(0, &data, &size, &isFile, &name), 1); // still usable after a miss
  EXPECT_EQ(name, "eb_df/");
}

TEST_F(ArchiveReaderTest, GzipTextIsOneEntryNamedUnknownAtAnyIndex) {
  std::string path = file("t.gz", archtest::gzipMember("hello, gzip"));
  CArchiveReader reader;
  ASSERT_EQ(reader.open(path), 1);
  EXPECT_EQ(reader.kind(), CArchiveReader::kGzip);
  EXPECT_EQ(reader.getFileCount(), 1);
  for (int index : {0, 1, 7}) {
    const unsigned char* data;
    uint32_t size;
    int isFile = 0;
    std::string name;
    ASSERT_EQ(reader.getFile(index, &data, &size, &isFile, &name), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), "hello, gzip");
    EXPECT_EQ(name, "unknown");
    EXPECT_EQ(isFile, 1);
  }
}

TEST_F(ArchiveReaderTest, GzipOfSeveralMembersReadsAsOneStreamAndACutTrailerFails) {
  std::string two = archtest::gzipMember("first ") + archtest::gzipMember("second");
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("two.gz", two)), 1);
  auto entries = readAllEntries(reader);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].data, "first second");

  std::string one = archtest::gzipMember(std::string(3000, 'q'));
  for (size_t cut : {1u, 4u, 8u}) {
    CArchiveReader r;
    EXPECT_EQ(r.open(file("cut.gz", one.substr(0, one.size() - cut))), 0) << cut;
    EXPECT_EQ(r.getLastErrorText(), "Could not read data from gzip archive !");
  }
  std::string badCrc = one;
  badCrc[badCrc.size() - 6] ^= 0x55;
  EXPECT_EQ(reader.open(file("crc.gz", badCrc)), 0);
}

TEST_F(ArchiveReaderTest, TarInsideGzipCountsItsEntriesUpToTheEndBlocks) {
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("t.tgz", archtest::gzipMember(threeFileTar()))), 1);
  EXPECT_EQ(reader.kind(), CArchiveReader::kTarGzip);
  ASSERT_EQ(reader.getFileCount(), 3);
  auto entries = readAllEntries(reader);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "a.txt");
  EXPECT_EQ(entries[0].data, "first");
  EXPECT_EQ(entries[0].isFile, 1);
  EXPECT_EQ(entries[1].name, "dir/");
  EXPECT_EQ(entries[1].isFile, 0);
  EXPECT_EQ(entries[2].data, std::string(700, 'b'));
  const unsigned char* data;
  uint32_t size;
  int isFile;
  std::string name;
  EXPECT_EQ(reader.getFile(3, &data, &size, &isFile, &name), 0);
  EXPECT_EQ(reader.getLastErrorText(), ""); // the end block is reached, not walked over
}

TEST_F(ArchiveReaderTest, DamagedTarChecksumEndsTheCountAndLaterPositionsFail) {
  std::string tar = archtest::tarEntry("a.txt", "first") +
                    archtest::tarHeader("b.txt", archtest::octalSize(3), '0', false) + std::string(512, 'b') +
                    archtest::tarEntry("c.txt", "third") + archtest::tarEnd();
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("d.tgz", archtest::gzipMember(tar))), 1);
  EXPECT_EQ(reader.getFileCount(), 1);
  const unsigned char* data;
  uint32_t size;
  int isFile;
  std::string name;
  EXPECT_EQ(reader.getFile(1, &data, &size, &isFile, &name), 0);
  EXPECT_EQ(reader.getLastErrorText(), "");
  EXPECT_EQ(reader.getFile(2, &data, &size, &isFile, &name), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Invalid file position !");
}

TEST_F(ArchiveReaderTest, TarSizeFieldsThatLieMakeTheHeaderInvalid) {
  struct Case {
    const char* what;
    std::string field;
  };
  std::string base256(12, '\xFF'); // -1 in base-256
  std::string big("\x80\0\0\0\0\0\0\x01\0\0\0\0", 12);
  for (const Case& c : {Case{"past the data", archtest::octalSize(100000)}, Case{"base-256 negative", base256},
                        Case{"base-256", big}, Case{"not octal", "0000000009x"}, Case{"over 32 bits", "77777777777"}}) {
    std::string tar = archtest::tarEntry("a.txt", "first") + archtest::tarHeader("b.txt", c.field) +
                      std::string(512, 'b') + archtest::tarEnd();
    CArchiveReader reader;
    ASSERT_EQ(reader.open(file("s.tgz", archtest::gzipMember(tar))), 1) << c.what;
    EXPECT_EQ(reader.getFileCount(), 1) << c.what;
    EXPECT_EQ(readAllEntries(reader).size(), 1u) << c.what;
    // The same header first: not a tar at all, so one plain entry.
    CArchiveReader first;
    ASSERT_EQ(first.open(file("f.tgz", archtest::gzipMember(archtest::tarHeader("b.txt", c.field) + tar))), 1);
    EXPECT_EQ(first.kind(), CArchiveReader::kGzip) << c.what;
  }
  // A header cut short, and an entry whose data is cut: nothing is read past the stream.
  std::string whole = archtest::tarEntry("a.txt", "first") + archtest::tarEntry("b.txt", std::string(2000, 'z'));
  for (size_t length : {512u + 512u + 100u, 512u + 512u + 512u + 1000u}) {
    CArchiveReader reader;
    ASSERT_EQ(reader.open(file("c.tgz", archtest::gzipMember(whole.substr(0, length)))), 1);
    EXPECT_EQ(reader.getFileCount(), 1) << length;
  }
}

TEST_F(ArchiveReaderTest, PlainEmptyAndReadOnlyFiles) {
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("plain.txt", "just text")), 1);
  EXPECT_EQ(reader.kind(), CArchiveReader::kGzip);
  auto entries = readAllEntries(reader);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].data, "just text");

  EXPECT_EQ(reader.open(file("empty", "")), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Could not read data from gzip archive !");

  EXPECT_EQ(reader.open(dir.str() + "missing.zip"), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Could not determine archive type !");

  std::string readOnly = file("ro.txt", "read only");
  fs::permissions(readOnly, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(reader.open(readOnly), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Could not determine archive type !");
  // A read-only ZIP archive still opens: the ZIP layer only reads.
  std::string zip = file("ro.zip", archtest::buildZip({{"a.txt", "a"}}));
  fs::permissions(zip, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(reader.open(zip), 1);
  reader.close();
  fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(zip, fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(ArchiveReaderTest, NotOpenedAndClosedReadersSayArchiveNotOpened) {
  CArchiveReader reader;
  const unsigned char* data;
  uint32_t size;
  int isFile;
  std::string name;
  EXPECT_EQ(reader.getFileCount(), -1);
  EXPECT_EQ(reader.getLastErrorText(), "Archive not opened");
  EXPECT_EQ(reader.getFile(0, &data, &size, &isFile, &name), 0);
  reader.close();
  EXPECT_EQ(reader.getLastErrorText(), "");
  // After close, whatever the kind was, nothing is read from freed state.
  for (const std::string& bytes : {archtest::buildZip({{"a.txt", "a"}}), archtest::gzipMember(threeFileTar())}) {
    ASSERT_EQ(reader.open(file("k", bytes)), 1);
    reader.close();
    EXPECT_EQ(reader.getFileCount(), -1);
    EXPECT_EQ(reader.getFile(0, &data, &size, &isFile, &name), 0);
    EXPECT_EQ(reader.getLastErrorText(), "Archive not opened");
  }
  // A gzip reader keeps its one entry, whose stream is gone.
  ASSERT_EQ(reader.open(file("k", archtest::gzipMember("x"))), 1);
  reader.close();
  EXPECT_EQ(reader.getFileCount(), 1);
  EXPECT_EQ(reader.getFile(0, &data, &size, &isFile, &name), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Could not read data from gzip archive !");
}

TEST_F(ArchiveReaderTest, ZipEntriesThatLieAboutTheirDataFailToUnzip) {
  const std::string kUnzip = "Could not unzip file at the specified position from the archive !";
  std::string data(4000, 'd');
  std::vector<ZipEntry> bad;
  bad.push_back({"huge.txt", std::string(1000, 'h')}); // size + 10 would wrap to 9 bytes
  bad.back().declaredSize = 0xFFFFFFFF;
  bad.push_back({"over-bound.txt", "tiny"});
  bad.back().declaredSize = CGzipFile::kMaxDataSize + 1;
  bad.push_back({"short.txt", data});
  bad.back().declaredSize = 9000;
  bad.push_back({"long.txt", data, false});
  bad.back().declaredSize = 10;
  bad.push_back({"crc.txt", data});
  bad.back().declaredCrc = 0x12345678;
  bad.push_back({"crc-stored.txt", data, false});
  bad.back().declaredCrc = 0;
  for (const ZipEntry& e : bad) {
    CArchiveReader reader;
    ASSERT_EQ(reader.open(file("bad.zip", archtest::buildZip({{"good.txt", "good"}, e}))), 1) << e.name;
    int failedAt = 0;
    auto entries = readAllEntries(reader, &failedAt);
    EXPECT_EQ(failedAt, 1) << e.name;
    EXPECT_EQ(reader.getLastErrorText(), kUnzip) << e.name;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].data, "good");
  }
}

TEST_F(ArchiveReaderTest, ZipBombsStayBoundedAndHonestOnesInflateWhole) {
  // A highly compressed entry within the bound inflates to exactly its bytes.
  std::string zeros(16 << 20, '\0');
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("z.zip", archtest::buildZip({{"zeros.bin", zeros}}))), 1);
  auto entries = readAllEntries(reader);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_TRUE(entries[0].data == zeros);
  // Overlapping entries: many central entries share one local header. Each is read whole, one at
  // a time; the reader never holds more than one.
  std::vector<ZipEntry> overlap{{"aaaa.bin", std::string(1 << 20, 'a')}};
  for (int i = 1; i < 100; ++i) {
    overlap.push_back({"aaaa.bin", overlap[0].data});
    overlap.back().sharesLocalHeaderOf = 0;
  }
  ASSERT_EQ(reader.open(file("o.zip", archtest::buildZip(overlap))), 1);
  EXPECT_EQ(reader.getFileCount(), 100);
  EXPECT_EQ(readAllEntries(reader).size(), 100u);
}

TEST_F(ArchiveReaderTest, DamagedZipsNeverHandOutWrongBytes) {
  std::vector<ZipEntry> entries{{"eb_df/", "", false},
                                {"eb_df/a.txt", std::string(3000, 'a')},
                                {"b.bin", std::string(100, 'b'), false},
                                {"c.txt", "c"}};
  std::string zip = archtest::buildZip(entries);
  auto check = [&](const std::string& bytes, const std::string& what) {
    CArchiveReader reader;
    if (!reader.open(file("dmg.zip", bytes))) return;
    if (reader.kind() != CArchiveReader::kZip) return; // read as plain bytes: one entry
    for (const Entry& e : readAllEntries(reader)) {
      bool known = false;
      for (const ZipEntry& z : entries)
        if (z.name == e.name) {
          known = true;
          EXPECT_TRUE(z.data == e.data) << what << ": " << e.name;
        }
      EXPECT_TRUE(known) << what << ": " << e.name;
    }
  };
  // Truncated at many offsets.
  for (size_t cut = 0; cut < zip.size(); cut += 7)
    check(zip.substr(0, cut), "cut at " + std::to_string(cut));
  // A damaged byte anywhere in the central directory and the end record.
  size_t central = zip.find(std::string("PK\1\2", 4));
  for (size_t at = central; at < zip.size(); ++at) {
    for (unsigned char flip : {0x01, 0x80, 0xFF}) {
      std::string damaged = zip;
      damaged[at] = static_cast<char>(damaged[at] ^ flip);
      if (damaged[at] == zip[at]) continue;
      // Renamed entries are fine as long as their bytes are right; only look at the bytes then.
      CArchiveReader reader;
      if (!reader.open(file("dmg.zip", damaged)) || reader.kind() != CArchiveReader::kZip) continue;
      readAllEntries(reader);
    }
  }
  // A local name that differs from the central one: the central name is the entry's name.
  ZipEntry renamed{"safe.txt", "payload"};
  renamed.localName = "../x.txt";
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("r.zip", archtest::buildZip({renamed}))), 1);
  auto got = readAllEntries(reader);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].name, "safe.txt");
}

// With FORMWELL_FUZZ_SEEDS set, writes the seed corpus of the archive reader's fuzz target.
TEST(ArchiveFuzzSeeds, WrittenWhenAsked) {
  const char* out = std::getenv("FORMWELL_FUZZ_SEEDS");
  if (!out || !*out) GTEST_SKIP() << "FORMWELL_FUZZ_SEEDS not set";
  fs::create_directories(out);
  std::string d = std::string(out) + "/";
  archtest::writeBytes(
      d + "zip",
      archtest::buildZip({{"eb_df/", "", false}, {"eb_df/a.txt", "hello hello"}, {"b.bin", "stored", false}}));
  archtest::writeBytes(d + "gzip", archtest::gzipMember("plain text"));
  archtest::writeBytes(d + "tgz", archtest::gzipMember(threeFileTar()));
  archtest::writeBytes(d + "tar-plain", threeFileTar());
  archtest::writeBytes(d + "text", "not an archive");
}
