#include "archive_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include <minizip/unzip.h>
#include <zlib.h>

#include "platform/file_info.h"
#include "platform/file_reader.h"
#include "platform/files.h"

namespace {

const char kTextNotOpened[] = "Archive not opened";
const char kTextGzipRead[] = "Could not read data from gzip archive !";
const char kTextZipCount[] = "Could not get files from the archive !";
const char kTextZipPosition[] = "Could not get file at the specified position from the archive !";
const char kTextZipUnzip[] = "Could not unzip file at the specified position from the archive !";
const char kTextTarPosition[] = "Invalid file position !";

constexpr uint32_t kTarBlock = 512;
// A GNU long name or a pax path longer than this is taken for damage, not for a name.
constexpr uint32_t kMaxLongName = 64 * 1024;

// Reads an octal field of a tar header: leading blanks, octal digits, then only NUL bytes or
// blanks to the end of the field. Anything else (base-256 sizes, stray characters, a value too
// large for 32 bits) is refused, so a damaged header never yields a size to trust.
bool readOctal(const unsigned char* field, size_t width, uint32_t* value) {
  size_t i = 0;
  while (i < width && (field[i] == ' ' || field[i] == '\t' || field[i] == '\n'))
    ++i;
  uint64_t v = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
    v = v * 8 + (field[i] - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  for (; i < width; ++i)
    if (field[i] != 0 && field[i] != ' ') return false;
  *value = static_cast<uint32_t>(v); // an empty field reads as 0
  return true;
}

bool tarChecksumMatches(const unsigned char* h) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kTarBlock; ++i)
    sum += (i >= 148 && i < 156) ? 32u : h[i];
  uint32_t stored;
  return readOctal(h + 148, 8, &stored) && stored == sum;
}

// "ustar" at offset 257: POSIX ("ustar\0") and GNU ("ustar  \0") archives both say so.
bool tarMagic(const unsigned char* h) { return std::memcmp(h + 257, "ustar", 5) == 0; }

std::string field(const unsigned char* p, size_t width) {
  return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), width));
}

// The "path" and "size" records of a pax extended header ("LENGTH key=value\n" each).
bool readPax(const unsigned char* p, uint32_t size, std::string* path, int64_t* paxSize) {
  uint32_t at = 0;
  while (at < size) {
    if (p[at] == 0) break; // padding after the last record
    uint32_t length = 0, i = at;
    while (i < size && p[i] >= '0' && p[i] <= '9') {
      length = length * 10 + (p[i] - '0');
      if (length > size) return false;
      ++i;
    }
    if (i == at || i >= size || p[i] != ' ' || length > size - at || length < i - at + 2) return false;
    const char* record = reinterpret_cast<const char*>(p + i + 1);
    size_t recordLength = at + length - (i + 1);
    if (record[recordLength - 1] != '\n') return false;
    std::string text(record, recordLength - 1);
    size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    std::string key = text.substr(0, eq), value = text.substr(eq + 1);
    if (key == "path") {
      *path = value;
    } else if (key == "size") {
      uint64_t v = 0;
      if (value.empty()) return false;
      for (char c : value) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFu) return false;
      }
      *paxSize = static_cast<int64_t>(v);
    }
    at += length;
  }
  return true;
}

} // namespace

const char CArchiveReader::kTextUnknownType[] = "Could not determine archive type !";

// ---- CGzipFile ----

CGzipFile::~CGzipFile() { CGzipFile::close(); }

void CGzipFile::close() {
  if (gzip_) gzclose(static_cast<gzFile>(gzip_));
  gzip_ = nullptr;
  mode_ = kModeClosed;
  fileLength_ = 0;
}

bool CGzipFile::isOpen() const { return mode_ != kModeClosed; }

bool CGzipFile::openForReading(const std::string& path) {
  if (isOpen()) return false;
  if (!platform::fileWritable(path)) return false; // also false when the file does not exist
  int64_t length = platform::fileSize(path);
  if (length < 0) return false;
  gzFile gz = gzopen(platform::nativePath(path).c_str(), "rb");
  if (!gz) return false;
  // gzdirect looks at the start of the file: true when it is not a gzip stream (or is empty).
  if (gzdirect(gz)) {
    gzclose(gz);
    return false;
  }
  gzip_ = gz;
  fileLength_ = static_cast<int32_t>(std::min<int64_t>(length, 0x7FFFFFFF));
  mode_ = kModeRead;
  return true;
}

bool CGzipFile::readAll(unsigned char** data, uint32_t* length) {
  *data = nullptr;
  *length = 0;
  if (!gzip_ || fileLength_ <= 0) return false;
  gzFile gz = static_cast<gzFile>(gzip_);
  // A stream cut short ends like a finished one; only zlib's error state tells them apart.
  auto clean = [gz] {
    int error = Z_OK;
    gzerror(gz, &error);
    return error == Z_OK;
  };
  // First the length, through a small buffer: a bomb is refused having held nothing.
  std::vector<unsigned char> scratch(64 * 1024);
  uint64_t total = 0;
  for (;;) {
    int n = gzread(gz, scratch.data(), static_cast<unsigned>(scratch.size()));
    if (n < 0) return false;
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > kMaxDataSize) return false; // refused: more than the reader takes
  }
  if (!clean() || total == 0 || gzrewind(gz) != 0) return false;
  unsigned char* block = new (std::nothrow) unsigned char[total];
  if (!block) return false;
  uint64_t got = 0;
  while (got < total) {
    int n = gzread(gz, block + got, static_cast<unsigned>(std::min<uint64_t>(total - got, 1u << 24)));
    if (n <= 0) break;
    got += static_cast<uint64_t>(n);
  }
  unsigned char extra;
  if (got != total || gzread(gz, &extra, 1) != 0 || !clean()) { // the file changed under us
    delete[] block;
    return false;
  }
  *data = block;
  *length = static_cast<uint32_t>(total);
  return true;
}

// ---- CArchiveReader ----

CArchiveReader::~CArchiveReader() { CArchiveReader::close(); }

void CArchiveReader::close() {
  if (zip_) unzClose(static_cast<unzFile>(zip_));
  zip_ = nullptr;
  CGzipFile::close();
  delete[] data_;
  data_ = nullptr;
  dataLength_ = 0;
  lastError_.clear();
  lastExecutable_ = false;
  zipEntries_.clear();
  zipComplete_ = false;
  zipClaimed_ = 0;
  tarEntries_.clear();
  tarComplete_ = false;
  tarHeadersRead_ = 0;
}

namespace {

// The ZIP layer's file access: reads at an offset through a window of 256 KiB kept in memory, so
// that its many small reads and seeks (headers, names, pieces of 16 KiB) cost neither a seek nor a
// read of the system each.
class ZipStream {
public:
  static void fill(zlib_filefunc64_def* def) {
    def->zopen64_file = &open;
    def->zread_file = &read;
    def->zwrite_file = &write;
    def->ztell64_file = &tell;
    def->zseek64_file = &seek;
    def->zclose_file = &close;
    def->zerror_file = &error;
    def->opaque = nullptr;
  }

private:
  static constexpr size_t kWindow = 256 * 1024;

  static voidpf ZCALLBACK open(voidpf, const void* path, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || !path) return nullptr;
    auto* s = new ZipStream;
    if (!s->file_.open(static_cast<const char*>(path))) {
      delete s;
      return nullptr;
    }
    return s;
  }
  static uLong ZCALLBACK read(voidpf, voidpf stream, void* buf, uLong size) {
    auto* s = static_cast<ZipStream*>(stream);
    auto* out = static_cast<unsigned char*>(buf);
    uLong done = 0;
    while (done < size) {
      if (s->at_ >= s->windowAt_ && s->at_ < s->windowAt_ + s->window_.size()) {
        size_t from = static_cast<size_t>(s->at_ - s->windowAt_);
        size_t n = std::min<size_t>(size - done, s->window_.size() - from);
        std::memcpy(out + done, s->window_.data() + from, n);
        done += static_cast<uLong>(n);
        s->at_ += n;
        continue;
      }
      s->window_.resize(kWindow);
      long long got = s->file_.readAt(s->at_, s->window_.data(), kWindow);
      if (got <= 0) {
        s->window_.clear();
        if (got < 0) s->failed_ = true;
        break;
      }
      s->window_.resize(static_cast<size_t>(got));
      s->windowAt_ = s->at_;
    }
    return done;
  }
  static uLong ZCALLBACK write(voidpf, voidpf, const void*, uLong) { return 0; }
  static ZPOS64_T ZCALLBACK tell(voidpf, voidpf stream) { return static_cast<ZipStream*>(stream)->at_; }
  static long ZCALLBACK seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<ZipStream*>(stream);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: s->at_ = offset; break;
    case ZLIB_FILEFUNC_SEEK_CUR: s->at_ += offset; break;
    case ZLIB_FILEFUNC_SEEK_END: s->at_ = s->file_.size() + offset; break;
    default: return -1;
    }
    return 0;
  }
  static int ZCALLBACK close(voidpf, voidpf stream) {
    delete static_cast<ZipStream*>(stream);
    return 0;
  }
  static int ZCALLBACK error(voidpf, voidpf stream) { return static_cast<ZipStream*>(stream)->failed_ ? 1 : 0; }

  platform::FileReader file_;
  std::vector<unsigned char> window_;
  uint64_t windowAt_ = 0;
  uint64_t at_ = 0;
  bool failed_ = false;
};

} // namespace

int CArchiveReader::open(const std::string& path) {
  // Whatever an earlier open left behind is released first.
  close();
  std::string native = platform::nativePath(path);
  zlib_filefunc64_def access;
  ZipStream::fill(&access);
  unzFile zip = unzOpen2_64(native.c_str(), &access);
  if (zip) {
    zip_ = zip;
    kind_ = kZip;
    indexZip();
    return 1;
  }
  if (!openForReading(path)) {
    lastError_ = kTextUnknownType;
    return 0;
  }
  if (!readAll(&data_, &dataLength_) || dataLength_ == 0) {
    lastError_ = kTextGzipRead;
    return 0;
  }
  // A tar archive says so in its first header: a matching checksum, or the ustar magic. One that
  // says so but does not hold up is a damaged tar archive, never a plain gzip file.
  bool tar = dataLength_ >= kTarBlock && (tarChecksumMatches(data_) || tarMagic(data_));
  kind_ = tar ? kTarGzip : kGzip;
  if (tar) indexTar();
  return 1;
}

// Walks the central directory once. minizip steps from one central header to the next, so the
// walk is linear; an end record that claims more entries than the directory holds (a few hundred
// bytes claiming tens of thousands) ends the walk at the first header that is not there.
bool CArchiveReader::indexZip() {
  unzFile zip = static_cast<unzFile>(zip_);
  unz_global_info64 global;
  if (unzGetGlobalInfo64(zip, &global) != UNZ_OK) return false;
  zipClaimed_ = global.number_entry;
  int step = zipClaimed_ > 0 ? unzGoToFirstFile(zip) : UNZ_END_OF_LIST_OF_FILE;
  while (step == UNZ_OK && zipEntries_.size() < zipClaimed_ && zipEntries_.size() < 0x7FFFFFFF) {
    unz64_file_pos pos;
    if (unzGetFilePos64(zip, &pos) != UNZ_OK) break;
    zipEntries_.push_back({pos.pos_in_zip_directory, pos.num_of_file});
    if (zipEntries_.size() < zipClaimed_) step = unzGoToNextFile(zip);
  }
  zipComplete_ = zipEntries_.size() == zipClaimed_;
  return zipComplete_;
}

// Walks the tar headers once, from the start of the data to the end marker (a block of zeros)
// or the end of the data. Every header on the way must hold up: a matching checksum, a size in
// octal whose data and its padding to the next block lie within the stream: one that ends inside
// a member's data or its padding was cut (one that ends at a header's place, without the end
// marker, counts as whole). GNU long names and pax headers name the entry after them and are not
// entries themselves.
bool CArchiveReader::indexTar() {
  std::string longName, paxPath;
  int64_t paxSize = -1;
  bool pending = false; // a long name or pax header waits for its entry
  uint32_t offset = 0;
  for (;;) {
    if (offset == dataLength_) break; // the end of the data, without an end marker
    if (dataLength_ - offset < kTarBlock) return false;
    ++tarHeadersRead_;
    const unsigned char* h = data_ + offset;
    if (std::all_of(h, h + kTarBlock, [](unsigned char c) { return c == 0; })) break; // the end marker
    uint32_t size;
    if (!tarChecksumMatches(h) || !readOctal(h + 124, 12, &size)) return false;
    char type = static_cast<char>(h[156]);
    if (paxSize >= 0 && type != 'x' && type != 'g' && type != 'L' && type != 'K') size = static_cast<uint32_t>(paxSize);
    uint32_t room = dataLength_ - offset - kTarBlock;
    if (size > room) return false; // data past the end of the stream
    uint64_t padded = (static_cast<uint64_t>(size) + kTarBlock - 1) / kTarBlock * kTarBlock;
    if (padded > room) return false; // cut inside the padding
    const unsigned char* body = h + kTarBlock;
    switch (type) {
    case 'L': // GNU: the next entry's name
      if (size > kMaxLongName) return false;
      longName = field(body, size);
      pending = true;
      break;
    case 'x': // pax: records for the next entry
      if (size > kMaxLongName || !readPax(body, size, &paxPath, &paxSize)) return false;
      pending = true;
      break;
    case 'K': // GNU: the next entry's link target, which nothing here uses
    case 'g': // pax: records for the whole archive
      pending = type == 'K' || pending;
      break;
    default: {
      std::string name;
      if (!longName.empty()) {
        name = longName;
      } else if (!paxPath.empty()) {
        name = paxPath;
      } else {
        name = field(h, 100);
        // The POSIX prefix field (GNU archives use those bytes for other things).
        std::string prefix = std::memcmp(h + 257, "ustar\0", 6) == 0 ? field(h + 345, 155) : "";
        if (!prefix.empty()) name = prefix + "/" + name;
      }
      int entryType = kOtherType;
      if (type == '5') entryType = kFolder;
      if (type == '0' || type == 0 || type == '7')
        entryType = !name.empty() && name.back() == '/' ? kFolder : kRegularFile;
      tarEntries_.push_back({name, offset + kTarBlock, size, entryType});
      longName.clear();
      paxPath.clear();
      paxSize = -1;
      pending = false;
    }
    }
    offset += kTarBlock + static_cast<uint32_t>(padded);
  }
  tarComplete_ = !pending;
  return tarComplete_;
}

int CArchiveReader::getFileCount() {
  switch (kind_) {
  case kZip:
    if (!zip_) break;
    if (!zipComplete_ || zipClaimed_ > 0x7FFFFFFF) {
      lastError_ = kTextZipCount;
      return -1;
    }
    return static_cast<int>(zipEntries_.size());
  case kGzip:
    if (!data_) break;
    return 1;
  case kTarGzip:
    if (!data_) break;
    if (!tarComplete_) {
      lastError_ = kTextZipCount;
      return -1;
    }
    return static_cast<int>(tarEntries_.size());
  default: break;
  }
  // Never opened, or used after close without a new open.
  lastError_ = kTextNotOpened;
  return -1;
}

// The entry at index of a gzip or tar archive, whose whole stream is in memory.
int CArchiveReader::getMemoryFile(int index, const unsigned char** data, uint32_t* size, EntryInfo* info) {
  if (kind_ == kGzip) {
    *data = data_;
    *size = dataLength_;
    info->name = "unknown";
    info->type = kRegularFile;
  } else {
    if (index < 0 || static_cast<size_t>(index) >= tarEntries_.size()) {
      // Past a complete archive's last entry the end marker is reached, not walked over.
      if (index < 0 || !tarComplete_) lastError_ = kTextTarPosition;
      return 0;
    }
    const TarEntry& e = tarEntries_[static_cast<size_t>(index)];
    *data = data_ + e.offset;
    *size = e.size;
    info->name = e.name;
    info->type = e.type;
  }
  info->executable = false;
  info->size = *size;
  return 1;
}

int CArchiveReader::getFile(int index, const unsigned char** data, uint32_t* size, int* isFile, std::string* name) {
  lastExecutable_ = false;
  EntryInfo info;
  switch (kind_) {
  case kZip: {
    if (!zip_) break;
    if (!goToZipEntry(index, &info)) return 0;
    delete[] data_;
    data_ = nullptr;
    // An entry that claims more than the reader takes is refused before anything is allocated.
    if (info.size > kMaxDataSize) {
      lastError_ = kTextZipUnzip;
      return 0;
    }
    uint32_t expected = static_cast<uint32_t>(info.size);
    data_ = new (std::nothrow) unsigned char[expected + 10];
    if (!data_) {
      lastError_ = kTextZipUnzip;
      return 0;
    }
    uint32_t got = 0;
    // readZipFile hands out exactly the declared size, never more.
    int result = readZipFile([&](const unsigned char* piece, size_t n) {
      std::memcpy(data_ + got, piece, n);
      got += static_cast<uint32_t>(n);
      return true;
    });
    if (result != 1) return 0;
    data_[got] = 0;
    *data = data_;
    *size = got;
    *name = info.name;
    *isFile = info.type == kRegularFile && (name->empty() || name->back() != '/');
    lastExecutable_ = info.executable;
    return 1;
  }
  case kGzip:
  case kTarGzip:
    if (!data_) {
      lastError_ = kind_ == kGzip ? kTextGzipRead : kTextNotOpened;
      return 0;
    }
    if (!getMemoryFile(index, data, size, &info)) return 0;
    *name = info.name;
    *isFile = info.type == kRegularFile;
    return 1;
  default: break;
  }
  lastError_ = kTextNotOpened;
  return 0;
}

int CArchiveReader::getFileInfo(int index, EntryInfo* info) {
  switch (kind_) {
  case kZip:
    if (!zip_) break;
    return goToZipEntry(index, info) ? 1 : 0;
  case kGzip:
  case kTarGzip: {
    if (!data_) break;
    const unsigned char* data;
    uint32_t size;
    return getMemoryFile(index, &data, &size, info);
  }
  default: break;
  }
  lastError_ = kTextNotOpened;
  return 0;
}

int CArchiveReader::readFile(int index, const Sink& sink) {
  EntryInfo info;
  switch (kind_) {
  case kZip:
    if (!zip_) break;
    if (!goToZipEntry(index, &info)) return 0;
    return readZipFile(sink);
  case kGzip:
  case kTarGzip: {
    if (!data_) break;
    const unsigned char* data;
    uint32_t size;
    if (!getMemoryFile(index, &data, &size, &info)) return 0;
    for (uint32_t at = 0; at < size;) {
      size_t n = std::min<size_t>(size - at, kPieceSize);
      if (!sink(data + at, n)) return -1;
      at += static_cast<uint32_t>(n);
    }
    return 1;
  }
  default: break;
  }
  lastError_ = kTextNotOpened;
  return 0;
}

// Makes the entry at index the ZIP layer's current one and reads its central header.
bool CArchiveReader::goToZipEntry(int index, EntryInfo* info) {
  unzFile zip = static_cast<unzFile>(zip_);
  unz_file_info64 fileInfo;
  static thread_local char entryName[65536];
  bool found = index >= 0 && static_cast<size_t>(index) < zipEntries_.size();
  if (found) {
    const ZipPosition& p = zipEntries_[static_cast<size_t>(index)];
    unz64_file_pos pos{p.directoryOffset, p.fileNumber};
    found = unzGoToFilePos64(zip, &pos) == UNZ_OK &&
            unzGetCurrentFileInfo64(zip, &fileInfo, entryName, sizeof entryName, nullptr, 0, nullptr, 0) == UNZ_OK;
  }
  if (!found) {
    lastError_ = kTextZipPosition;
    return false;
  }
  size_t nameLength = strnlen(entryName, sizeof entryName);
  if (fileInfo.size_filename < nameLength) nameLength = fileInfo.size_filename;
  info->name = std::string(entryName, nameLength);
  info->size = fileInfo.uncompressed_size;
  // Made on Unix (the high byte of "version made by" is 3): the mode sits in the high 16 bits,
  // and its file type tells regular files and folders from links, devices and FIFOs.
  bool madeOnUnix = (fileInfo.version >> 8) == 3;
  uint32_t mode = fileInfo.external_fa >> 16;
  info->executable = madeOnUnix && (mode & 0111) != 0;
  bool folderName = !info->name.empty() && info->name.back() == '/';
  info->type = (fileInfo.external_fa & 0x10) || folderName ? kFolder : kRegularFile;
  if (madeOnUnix && (mode & 0170000) != 0 && (mode & 0170000) != 0100000 && (mode & 0170000) != 0040000)
    info->type = kOtherType;
  currentCompressed_ = fileInfo.compressed_size;
  currentSize_ = fileInfo.uncompressed_size;
  currentCrc_ = static_cast<uint32_t>(fileInfo.crc);
  currentMethod_ = static_cast<int>(fileInfo.compression_method);
  currentFlags_ = static_cast<int>(fileInfo.flag);
  return true;
}

// Reads the current entry's compressed bytes as they are stored (the ZIP layer's raw mode) and
// inflates them here, so that the whole entry is checked: it must inflate to exactly its
// declared size, its deflate stream must end exactly at its declared compressed size (a stream
// that goes on past the declared size is a forged entry, not a longer file), and the CRC of its
// bytes must match. Stored entries are as long as declared, both ways.
int CArchiveReader::readZipFile(const Sink& sink) {
  unzFile zip = static_cast<unzFile>(zip_);
  bool deflated = currentMethod_ == Z_DEFLATED;
  if ((currentMethod_ != 0 && !deflated) || (currentFlags_ & 1) != 0 || // other methods, encryption
      (!deflated && currentCompressed_ != currentSize_)) {
    lastError_ = kTextZipUnzip;
    return 0;
  }
  int method = 0, level = 0;
  if (unzOpenCurrentFile2(zip, &method, &level, 1) != UNZ_OK) {
    lastError_ = kTextZipUnzip;
    return 0;
  }
  // The pieces are kept from entry to entry: an archive of many small files would otherwise spend
  // its time allocating and clearing them.
  if (pieceIn_.size() != kPieceSize) pieceIn_.resize(kPieceSize);
  if (deflated && pieceOut_.size() != kPieceSize) pieceOut_.resize(kPieceSize);
  std::vector<unsigned char>& in = pieceIn_;
  std::vector<unsigned char>& out = pieceOut_;
  z_stream z{};
  if (deflated && inflateInit2(&z, -MAX_WBITS) != Z_OK) {
    unzCloseCurrentFile(zip);
    lastError_ = kTextZipUnzip;
    return 0;
  }
  uLong crc = crc32(0, nullptr, 0);
  uint64_t produced = 0, consumed = 0;
  bool ended = !deflated, ok = true, sinkRefused = false;
  while (ok && !sinkRefused) {
    int n = unzReadCurrentFile(zip, in.data(), static_cast<unsigned>(in.size()));
    if (n < 0) ok = false;
    if (n <= 0) break;
    consumed += static_cast<uint64_t>(n);
    if (!deflated) {
      produced += static_cast<uint64_t>(n);
      if (produced > currentSize_) ok = false;
      crc = crc32(crc, in.data(), static_cast<uInt>(n));
      if (ok && !sink(in.data(), static_cast<size_t>(n))) sinkRefused = true;
      continue;
    }
    if (ended) { // compressed bytes left over after the end of the deflate stream
      ok = false;
      break;
    }
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(n);
    for (;;) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      int r = inflate(&z, Z_NO_FLUSH);
      if (r == Z_BUF_ERROR && z.avail_in == 0) break; // wants more input
      if (r != Z_OK && r != Z_STREAM_END) {
        ok = false;
        break;
      }
      size_t made = out.size() - z.avail_out;
      produced += made;
      if (produced > currentSize_) {
        ok = false;
        break;
      }
      if (made > 0) {
        crc = crc32(crc, out.data(), static_cast<uInt>(made));
        if (!sink(out.data(), made)) {
          sinkRefused = true;
          break;
        }
      }
      if (r == Z_STREAM_END) {
        ended = true;
        break;
      }
      if (z.avail_in == 0 && z.avail_out != 0) break; // all input taken, all output handed out
    }
    if (ended && z.avail_in > 0) ok = false;
  }
  if (deflated) inflateEnd(&z);
  if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;
  if (sinkRefused) return -1;
  if (!ok || !ended || produced != currentSize_ || consumed != currentCompressed_ || crc != currentCrc_) {
    lastError_ = kTextZipUnzip;
    return 0;
  }
  return 1;
}
