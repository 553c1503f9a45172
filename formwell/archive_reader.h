// The archive reader that installs the package: a ZIP archive (kind 1), a gzip-compressed file
// handed out as one entry named "unknown" (kind 2), or a tar archive inside gzip (kind 3).
// Entries are handed out by position as blocks that the reader owns: a ZIP entry's block lives
// until the next getFile or close, gzip and tar blocks until close. Failures are results plus an
// English text in getLastErrorText. One thread at a time; readers share nothing.
#pragma once

#include <cstdint>
#include <string>

// A gzip file opened for reading through zlib (which reads a file without a gzip header as it is).
class CGzipFile {
public:
  CGzipFile() = default;
  virtual ~CGzipFile();
  CGzipFile(const CGzipFile&) = delete;
  CGzipFile& operator=(const CGzipFile&) = delete;

  virtual void close();
  virtual bool isOpen() const;
  // The whole decompressed stream, in a block of exactly its length that the caller frees with
  // delete[]. False on a read error, an empty stream, or more than kMaxDataSize bytes.
  virtual bool readAll(unsigned char** data, uint32_t* length);

  // Opens path for reading: fails when already open, when the file is missing or read-only, or
  // when zlib cannot open it.
  bool openForReading(const std::string& path);

  // The most the reader takes from one gzip stream or one ZIP entry: an archive that claims or
  // inflates to more is refused rather than exhausting memory.
  static constexpr uint32_t kMaxDataSize = 1u << 30;

protected:
  enum { kModeClosed = 0, kModeRead = 2 };
  int32_t mode_ = kModeClosed;
  void* gzip_ = nullptr; // gzFile
  int32_t fileLength_ = 0;
};

class CArchiveReader : public CGzipFile {
public:
  CArchiveReader() = default;
  ~CArchiveReader() override;

  int open(const std::string& path);
  int getFileCount();
  int getFile(int index, const unsigned char** data, uint32_t* size, int* isFile, std::string* name);
  std::string getLastErrorText() const { return lastError_; }
  void close() override;

  // Whether the entry of the last successful getFile is a program (a ZIP entry made on Unix with
  // an execute bit), so that the Linux installation can let it run.
  bool lastEntryExecutable() const { return lastExecutable_; }

  enum Kind { kNotOpened = 0, kZip = 1, kGzip = 2, kTarGzip = 3 };
  int kind() const { return kind_; }

private:
  bool validTarHeader(uint32_t offset, uint32_t* entrySize) const;
  int getZipFile(int index, const unsigned char** data, uint32_t* size, int* isFile, std::string* name);

  void* zip_ = nullptr;           // unzFile
  unsigned char* data_ = nullptr; // the gzip stream, or the last ZIP entry
  uint32_t dataLength_ = 0;
  std::string lastError_;
  int32_t kind_ = kNotOpened;
  int zipPosition_ = -1; // the ZIP layer's current entry, so that walking in order is linear
  bool lastExecutable_ = false;
};
