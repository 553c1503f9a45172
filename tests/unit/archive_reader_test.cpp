#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// A tar archive whose headers do not all hold up to the end marker is damaged: its count fails,
// so that no caller takes the entries before the damage for the whole archive. Whether the damage
// is in the first header or later, the reader never calls it a plain gzip file.
TEST_F(ArchiveReaderTest, DamagedOrCutTarArchivesFailTheCount) {
  std::string base256(12, '\xFF'); // -1 in base-256
  std::string big("\x80\0\0\0\0\0\0\x01\0\0\0\0", 12);
  std::string a = archtest::tarEntry("a.txt", "first");
  std::string whole = a + archtest::tarEntry("b.txt", std::string(2000, 'z')) + archtest::tarEntry("c.txt", "c");
  struct Case {
    std::string what;
    std::string tar;
    int readable; // entries before the damage that getFile still hands out
  };
  std::vector<Case> cases{
      {"bad checksum in the middle",
       a + archtest::tarHeader("b.txt", archtest::octalSize(3), '0', false) + std::string(512, 'b') +
           archtest::tarEntry("c.txt", "third") + archtest::tarEnd(),
       1},
      {"bad checksum first",
       archtest::tarHeader("b.txt", archtest::octalSize(3), '0', false) + std::string(512, 'b') + a, 0},
      {"cut inside a header", whole.substr(0, 512 + 512 + 100), 1},
      {"cut inside the data", whole.substr(0, 512 + 512 + 512 + 1000), 1},
      {"cut inside the first member's padding", whole.substr(0, 512 + 100), 0},
      {"cut inside the last member's padding", whole.substr(0, whole.size() - 100), 2},
      {"cut inside a pax header's entry", a + archtest::tarEntry("p", "22 path=long/name.txt\n", 'x'), 1},
  };
  for (const auto& [what, field] :
       std::vector<std::pair<std::string, std::string>>{{"past the data", archtest::octalSize(100000)},
                                                        {"base-256 negative", base256},
                                                        {"base-256", big},
                                                        {"not octal", "0000000009x"},
                                                        {"over 32 bits", "77777777777"}}) {
    std::string bad = archtest::tarHeader("b.txt", field) + std::string(512, 'b');
    cases.push_back({field + " first: " + what, bad + a + archtest::tarEnd(), 0});
    cases.push_back({field + " in the middle: " + what, a + bad + archtest::tarEnd(), 1});
  }
  for (const Case& c : cases) {
    CArchiveReader reader;
    ASSERT_EQ(reader.open(file("d.tgz", archtest::gzipMember(c.tar))), 1) << c.what;
    EXPECT_EQ(reader.kind(), CArchiveReader::kTarGzip) << c.what;
    EXPECT_EQ(reader.getFileCount(), -1) << c.what;
    EXPECT_EQ(reader.getLastErrorText(), "Could not get files from the archive !") << c.what;
    const unsigned char* data;
    uint32_t size;
    int isFile;
    std::string name;
    for (int i = 0; i < c.readable; ++i)
      EXPECT_EQ(reader.getFile(i, &data, &size, &isFile, &name), 1) << c.what;
    EXPECT_EQ(reader.getFile(c.readable, &data, &size, &isFile, &name), 0) << c.what;
    EXPECT_EQ(reader.getLastErrorText(), "Invalid file position !") << c.what;
  }
  // Without the end marker, a tar that ends at a header boundary is whole.
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("n.tgz", archtest::gzipMember(whole))), 1);
  EXPECT_EQ(reader.getFileCount(), 3);
}

// The ustar prefix, GNU long names and pax paths make the entry's name and are no entries of
// their own; links, devices and FIFOs are entries of another type than file or folder.
TEST_F(ArchiveReaderTest, TarNamesFromPrefixLongNamesAndPaxAndTypesBeyondFiles) {
  std::string longName = std::string(120, 'l') + "/file.txt";
  std::string paxPath = "pax/" + std::string(150, 'p') + ".txt";
  std::string record = "path=" + paxPath + "\n";
  std::string pax = std::to_string(record.size() + 4) + " " + record; // the length counts itself
  std::string paxSize = "10 size=4\n";
  std::string tar =
      archtest::tarEntry("name.txt", "prefixed", '0', "deep/prefix") +
      archtest::tarEntry("././@LongLink", longName + '\0', 'L') + archtest::tarEntry(std::string(99, 't'), "long") +
      archtest::tarEntry("PaxHeader", pax, 'x') + archtest::tarEntry("short.txt", "pax") +
      archtest::tarEntry("g", "18 comment=global\n", 'g') + archtest::tarEntry("PaxHeader", paxSize, 'x') +
      archtest::tarHeader("sized.txt", archtest::octalSize(0)) + "four" + std::string(508, '\0') +
      archtest::tarEntry("link.txt", "", '2') + archtest::tarEntry("hard.txt", "", '1') +
      archtest::tarEntry("dev", "", '3') + archtest::tarEntry("fifo", "", '6') +
      archtest::tarEntry("old-folder/", "", '0') + archtest::tarEntry("folder", "", '5') + archtest::tarEnd();
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("names.tgz", archtest::gzipMember(tar))), 1);
  ASSERT_EQ(reader.getFileCount(), 10);
  struct Want {
    std::string name;
    std::string data;
    int type;
  };
  std::vector<Want> want{{"deep/prefix/name.txt", "prefixed", CArchiveReader::kRegularFile},
                         {longName, "long", CArchiveReader::kRegularFile},
                         {paxPath, "pax", CArchiveReader::kRegularFile},
                         {"sized.txt", "four", CArchiveReader::kRegularFile},
                         {"link.txt", "", CArchiveReader::kOtherType},
                         {"hard.txt", "", CArchiveReader::kOtherType},
                         {"dev", "", CArchiveReader::kOtherType},
                         {"fifo", "", CArchiveReader::kOtherType},
                         {"old-folder/", "", CArchiveReader::kFolder},
                         {"folder", "", CArchiveReader::kFolder}};
  auto entries = readAllEntries(reader);
  ASSERT_EQ(entries.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(entries[i].name, want[i].name) << i;
    EXPECT_EQ(entries[i].data, want[i].data) << i;
    EXPECT_EQ(entries[i].isFile, want[i].type == CArchiveReader::kRegularFile) << i;
    CArchiveReader::EntryInfo info;
    ASSERT_EQ(reader.getFileInfo(static_cast<int>(i), &info), 1);
    EXPECT_EQ(info.type, want[i].type) << i;
  }
}

// The tar archive is walked once: reading every entry of a 20,000-entry archive looks at each
// header once (plus the end marker), however the entries are asked for.
TEST_F(ArchiveReaderTest, TarArchiveIsWalkedOnce) {
  std::string tar;
  const int n = 20000;
  for (int i = 0; i < n; ++i)
    tar += archtest::tarEntry("e" + std::to_string(i), "");
  tar += archtest::tarEnd();
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("many.tgz", archtest::gzipMember(tar))), 1);
  ASSERT_EQ(reader.getFileCount(), n);
  auto entries = readAllEntries(reader);
  ASSERT_EQ(entries.size(), static_cast<size_t>(n));
  EXPECT_EQ(entries[n - 1].name, "e" + std::to_string(n - 1));
  const unsigned char* data;
  uint32_t size;
  int isFile;
  std::string name;
  for (int i = n - 1; i >= 0; i -= 7)
    ASSERT_EQ(reader.getFile(i, &data, &size, &isFile, &name), 1);
  EXPECT_EQ(reader.tarHeadersRead(), n + 1);
}

// Only a ZIP archive or a gzip stream opens: zlib would read any other file as it is, so a cut
// ZIP archive, a text, or an empty file would pass for a one-entry gzip file.
TEST_F(ArchiveReaderTest, FilesThatAreNeitherZipNorGzipDoNotOpen) {
  std::string zip = archtest::buildZip({{"eb_df/index.html", std::string(3000, 'x')}, {"b.txt", "b"}});
  for (const auto& [what, bytes] :
       std::vector<std::pair<std::string, std::string>>{{"plain text", "just text"},
                                                        {"empty", ""},
                                                        {"one byte of the magic", "\x1f"},
                                                        {"cut ZIP", zip.substr(0, zip.size() - 30)},
                                                        {"ZIP without its end record", zip.substr(0, zip.size() - 22)},
                                                        {"plain tar", threeFileTar()}}) {
    CArchiveReader reader;
    EXPECT_EQ(reader.open(file("x.bin", bytes)), 0) << what;
    EXPECT_EQ(reader.getLastErrorText(), "Could not determine archive type !") << what;
    EXPECT_EQ(reader.getFileCount(), -1) << what;
  }
  CArchiveReader reader;
  EXPECT_EQ(reader.open(dir.str() + "missing.zip"), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Could not determine archive type !");

  std::string readOnly = file("ro.gz", archtest::gzipMember("read only"));
  fs::permissions(readOnly, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(reader.open(readOnly), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Could not determine archive type !");
  // A read-only ZIP archive still opens: the ZIP layer only reads.
  std::string roZip = file("ro.zip", archtest::buildZip({{"a.txt", "a"}}));
  fs::permissions(roZip, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(reader.open(roZip), 1);
  reader.close();
  fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::add);
  fs::permissions(roZip, fs::perms::owner_write, fs::perm_options::add);
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
  // A gzip reader too: its stream is gone, and so is its one entry.
  ASSERT_EQ(reader.open(file("k", archtest::gzipMember("x"))), 1);
  reader.close();
  EXPECT_EQ(reader.getFileCount(), -1);
  EXPECT_EQ(reader.getLastErrorText(), "Archive not opened");
  EXPECT_EQ(reader.getFile(0, &data, &size, &isFile, &name), 0);
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
  // The first 10 bytes declared, with their CRC, while the deflate stream goes on to 5,000.
  std::string forged(5000, 'f');
  forged.replace(0, 10, "0123456789");
  bad.push_back({"forged.txt", forged});
  bad.back().declaredSize = 10;
  bad.back().declaredCrc = archtest::crcOf("0123456789");
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

// An end record that claims far more entries than the central directory holds: the count fails
// at once, the entries that are there can be had, and asking for every claimed position is quick.
TEST_F(ArchiveReaderTest, ZipClaimingMoreEntriesThanItHoldsFailsTheCount) {
  std::string zip = archtest::claimEntries(archtest::buildZip({{"a.txt", "a"}, {"b.txt", "b"}}), 37265);
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("claims.zip", zip)), 1);
  EXPECT_EQ(reader.getFileCount(), -1);
  EXPECT_EQ(reader.getLastErrorText(), "Could not get files from the archive !");
  const unsigned char* data;
  uint32_t size;
  int isFile;
  std::string name;
  ASSERT_EQ(reader.getFile(1, &data, &size, &isFile, &name), 1);
  EXPECT_EQ(name, "b.txt");
  auto start = std::chrono::steady_clock::now();
  int good = 0;
  for (int i = 0; i < 37265; ++i)
    good += reader.getFile(i, &data, &size, &isFile, &name);
  EXPECT_EQ(good, 2);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)); // a minute before
}

// readFile hands an entry out in pieces, checks it as getFile does, and stops when the sink says no.
TEST_F(ArchiveReaderTest, EntriesStreamInBoundedPieces) {
  std::string big(3 * CArchiveReader::kPieceSize + 123, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>((i * 7919) >> 5);
  ZipEntry forged{"forged.txt", std::string(5000, 'f')};
  forged.declaredSize = 10;
  forged.declaredCrc = archtest::crcOf(std::string(10, 'f'));
  CArchiveReader reader;
  ASSERT_EQ(reader.open(file("s.zip", archtest::buildZip({{"big.bin", big}, {"stored.bin", big, false}, forged}))), 1);
  for (int index : {0, 1}) {
    std::string got;
    size_t largest = 0;
    ASSERT_EQ(reader.readFile(index,
                              [&](const unsigned char* d, size_t n) {
                                got.append(reinterpret_cast<const char*>(d), n);
                                largest = std::max(largest, n);
                                return true;
                              }),
              1);
    EXPECT_TRUE(got == big) << index;
    EXPECT_LE(largest, CArchiveReader::kPieceSize);
  }
  EXPECT_EQ(reader.readFile(2, [](const unsigned char*, size_t) { return true; }), 0);
  EXPECT_EQ(reader.getLastErrorText(), "Could not unzip file at the specified position from the archive !");
  EXPECT_EQ(reader.readFile(0, [](const unsigned char*, size_t) { return false; }), -1);
  EXPECT_EQ(reader.readFile(3, [](const unsigned char*, size_t) { return true; }), 0);
}

#ifdef __linux__
namespace {
// The peak resident memory since the last reset, in MiB (Linux: VmHWM, reset through clear_refs).
long resetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return 0;
}
long peakMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  return -1;
}
long currentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  return -1;
}
} // namespace

// A gzip bomb is refused having held next to nothing, and a stream that is taken costs its own
// length once, not twice.
TEST_F(ArchiveReaderTest, GzipStreamsStayWithinTheirBoundInResidentMemory) {
  std::string bomb = file("bomb.gz", archtest::gzipZeros(uint64_t{CGzipFile::kMaxDataSize} + 4096));
  std::string taken = file("taken.gz", archtest::gzipZeros(128u << 20));
  resetPeak();
  long before = currentMiB();
  {
    CArchiveReader reader;
    EXPECT_EQ(reader.open(bomb), 0);
    EXPECT_EQ(reader.getLastErrorText(), "Could not read data from gzip archive !");
  }
  EXPECT_LT(peakMiB() - before, 32);
  resetPeak();
  before = currentMiB();
  {
    CArchiveReader reader;
    ASSERT_EQ(reader.open(taken), 1);
    EXPECT_EQ(reader.getFileCount(), 1);
  }
  EXPECT_LT(peakMiB() - before, 128 + 32);
}
#endif

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
  archtest::writeBytes(d + "tgz-names", archtest::gzipMember(archtest::tarEntry("n.txt", "p", '0', "prefix") +
                                                             archtest::tarEntry("././@LongLink", "long/name.txt", 'L') +
                                                             archtest::tarEntry("x", "l") +
                                                             archtest::tarEntry("h", "16 path=pax.txt\n", 'x') +
                                                             archtest::tarEntry("y", "pax") + archtest::tarEnd()));
}
