#include "archive_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include <minizip/unzip.h>
#include <zlib.h>

#include "platform/file_info.h"
#include "platform/files.h"

namespace {

const char kTextNotOpened[] = "Archive not opened";
const char kTextUnknownType[] = "Could not determine archive type !";
const char kTextGzipRead[] = "Could not read data from gzip archive !";
const char kTextZipCount[] = "Could not get files from the archive !";
const char kTextZipPosition[] = "Could not get file at the specified position from the archive !";
const char kTextZipUnzip[] = "Could not unzip file at the specified position from the archive !";
const char kTextTarPosition[] = "Invalid file position !";

constexpr uint32_t kTarBlock = 512;

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

} // namespace

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
  gzip_ = gz;
  fileLength_ = static_cast<int32_t>(std::min<int64_t>(length, 0x7FFFFFFF));
  mode_ = kModeRead;
  return true;
}

bool CGzipFile::readAll(unsigned char** data, uint32_t* length) {
  *data = nullptr;
  *length = 0;
  if (!gzip_ || fileLength_ <= 0) return false;
  // Pieces as large as the file, but never tiny (a few compressed bytes may inflate to a lot)
  // and never huge (a large file's first piece is not all read at once).
  unsigned piece = static_cast<unsigned>(std::clamp<int32_t>(fileLength_, 64 * 1024, 16 * 1024 * 1024));
  std::vector<unsigned char> all;
  for (;;) {
    if (all.size() >= kMaxDataSize) return false; // refused: more than the reader takes
    size_t at = all.size();
    size_t want = std::min<size_t>(piece, kMaxDataSize - at + 1);
    try {
      all.resize(at + want);
    } catch (const std::bad_alloc&) {
      return false;
    }
    int n = gzread(static_cast<gzFile>(gzip_), all.data() + at, static_cast<unsigned>(want));
    if (n < 0) return false;
    all.resize(at + static_cast<size_t>(n));
    if (n == 0) break;
    if (all.size() > kMaxDataSize) return false;
  }
  // A stream cut short ends like a finished one; only zlib's error state tells them apart.
  int error = Z_OK;
  gzerror(static_cast<gzFile>(gzip_), &error);
  if (error != Z_OK || all.empty()) return false;
  unsigned char* block = new (std::nothrow) unsigned char[all.size()];
  if (!block) return false;
  std::memcpy(block, all.data(), all.size());
  *data = block;
  *length = static_cast<uint32_t>(all.size());
  return true;
}

// ---- CArchiveReader ----

CArchiveReader::~CArchiveReader() { CArchiveReader::close(); }

void CArchiveReader::close() {
  if (zip_) unzClose(static_cast<unzFile>(zip_));
  zip_ = nullptr;
  zipPosition_ = -1;
  CGzipFile::close();
  delete[] data_;
  data_ = nullptr;
  dataLength_ = 0;
  lastError_.clear();
  lastExecutable_ = false;
}

int CArchiveReader::open(const std::string& path) {
  // Whatever an earlier open left behind is released first.
  close();
  std::string native = platform::nativePath(path);
  unzFile zip = unzOpen64(native.c_str());
  if (zip) {
    zip_ = zip;
    kind_ = kZip;
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
  uint32_t size;
  kind_ = dataLength_ >= kTarBlock && validTarHeader(0, &size) ? kTarGzip : kGzip;
  return 1;
}

// A header is valid when its checksum matches, its size field reads cleanly, and its data lies
// within the stream: nothing is ever read past the end of the data.
bool CArchiveReader::validTarHeader(uint32_t offset, uint32_t* entrySize) const {
  if (!data_ || offset > dataLength_ || dataLength_ - offset < kTarBlock) return false;
  const unsigned char* h = data_ + offset;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < kTarBlock; ++i)
    sum += (i >= 148 && i < 156) ? 32u : h[i];
  uint32_t stored;
  if (!readOctal(h + 148, 8, &stored) || stored != sum) return false;
  uint32_t size;
  if (!readOctal(h + 124, 12, &size)) return false;
  uint64_t padded = (static_cast<uint64_t>(size) + kTarBlock - 1) / kTarBlock * kTarBlock;
  if (padded > dataLength_ - offset - kTarBlock) {
    // The last entry of a stream whose final padding was cut off still has all its bytes.
    if (size > dataLength_ - offset - kTarBlock) return false;
  }
  *entrySize = size;
  return true;
}

int CArchiveReader::getFileCount() {
  switch (kind_) {
  case kZip: {
    if (!zip_) break;
    unz_global_info64 info;
    if (unzGetGlobalInfo64(static_cast<unzFile>(zip_), &info) != UNZ_OK || info.number_entry > 0x7FFFFFFF) {
      lastError_ = kTextZipCount;
      return -1;
    }
    return static_cast<int>(info.number_entry);
  }
  case kGzip: return 1;
  case kTarGzip: {
    if (!data_) break;
    int count = 0;
    uint32_t offset = 0, size;
    while (validTarHeader(offset, &size)) {
      ++count;
      uint64_t next = offset + kTarBlock + (static_cast<uint64_t>(size) + kTarBlock - 1) / kTarBlock * kTarBlock;
      if (next >= dataLength_) break;
      offset = static_cast<uint32_t>(next);
    }
    return count;
  }
  default: break;
  }
  // Never opened, or used after close without a new open.
  lastError_ = kTextNotOpened;
  return -1;
}

int CArchiveReader::getFile(int index, const unsigned char** data, uint32_t* size, int* isFile, std::string* name) {
  lastExecutable_ = false;
  switch (kind_) {
  case kZip:
    if (!zip_) break;
    return getZipFile(index, data, size, isFile, name);
  case kGzip:
    if (!data_) {
      lastError_ = kTextGzipRead;
      return 0;
    }
    *data = data_;
    *size = dataLength_;
    *isFile = 1;
    *name = "unknown";
    return 1;
  case kTarGzip: {
    if (!data_) break;
    uint32_t offset = 0, entrySize;
    for (int i = 0; i < index; ++i) {
      if (!validTarHeader(offset, &entrySize)) {
        lastError_ = kTextTarPosition;
        return 0;
      }
      offset += kTarBlock + (entrySize + kTarBlock - 1) / kTarBlock * kTarBlock;
    }
    if (index < 0 || !validTarHeader(offset, &entrySize)) return 0;
    const unsigned char* h = data_ + offset;
    *data = h + kTarBlock;
    *size = entrySize;
    *isFile = h[156] == '0' || h[156] == 0;
    *name = std::string(reinterpret_cast<const char*>(h), strnlen(reinterpret_cast<const char*>(h), 100));
    return 1;
  }
  default: break;
  }
  lastError_ = kTextNotOpened;
  return 0;
}

int CArchiveReader::getZipFile(int index, const unsigned char** data, uint32_t* size, int* isFile, std::string* name) {
  unzFile zip = static_cast<unzFile>(zip_);
  // Step to the entry: forward from the current one when it lies ahead (the usual walk in
  // order), from the first one otherwise.
  bool found = index >= 0;
  if (found && (zipPosition_ < 0 || index < zipPosition_)) {
    found = unzGoToFirstFile(zip) == UNZ_OK;
    zipPosition_ = found ? 0 : -1;
  }
  while (found && zipPosition_ < index) {
    found = unzGoToNextFile(zip) == UNZ_OK;
    zipPosition_ = found ? zipPosition_ + 1 : -1;
  }
  unz_file_info64 info;
  char entryName[65536];
  if (!found || unzGetCurrentFileInfo64(zip, &info, entryName, sizeof entryName, nullptr, 0, nullptr, 0) != UNZ_OK) {
    zipPosition_ = -1;
    lastError_ = kTextZipPosition;
    return 0;
  }
  delete[] data_;
  data_ = nullptr;
  // An entry that claims more than the reader takes is refused before anything is allocated.
  if (info.uncompressed_size > kMaxDataSize) {
    lastError_ = kTextZipUnzip;
    return 0;
  }
  uint32_t expected = static_cast<uint32_t>(info.uncompressed_size);
  data_ = new (std::nothrow) unsigned char[expected + 10];
  if (!data_ || unzOpenCurrentFile(zip) != UNZ_OK) {
    lastError_ = kTextZipUnzip;
    return 0;
  }
  // The entry must inflate to exactly its declared size with a matching CRC; a short or damaged
  // entry is a failure, never a good-looking block of damaged bytes.
  uint32_t got = 0;
  bool ok = true;
  while (got < expected) {
    unsigned chunk = static_cast<unsigned>(std::min<uint32_t>(expected - got, 1u << 24));
    int n = unzReadCurrentFile(zip, data_ + got, chunk);
    if (n <= 0) {
      ok = false;
      break;
    }
    got += static_cast<uint32_t>(n);
  }
  if (ok && unzReadCurrentFile(zip, data_ + got, 1) != 0) ok = false; // longer than declared
  if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;                 // the CRC is checked here
  if (!ok) {
    lastError_ = kTextZipUnzip;
    return 0;
  }
  data_[got] = 0;
  *data = data_;
  *size = got;
  size_t nameLength = strnlen(entryName, sizeof entryName);
  if (info.size_filename < nameLength) nameLength = info.size_filename;
  *name = std::string(entryName, nameLength);
  *isFile = !(info.external_fa & 0x10) && (name->empty() || name->back() != '/');
  // Made on Unix (the high byte of "version made by" is 3): the mode sits in the high 16 bits.
  lastExecutable_ = (info.version >> 8) == 3 && ((info.external_fa >> 16) & 0111) != 0;
  return 1;
}
