// The archive reader that installs the package: a ZIP archive (kind 1), a gzip-compressed file
// handed out as one entry named "unknown" (kind 2), or a tar archive inside gzip (kind 3).
// Entries are handed out by position, either as blocks that the reader owns (getFile: a ZIP
// entry's block lives until the next getFile or close, gzip and tar blocks until close) or in
// pieces to a sink (getFileInfo and readFile, for the extraction, which never holds a whole entry).
// Failures are results plus an English text in getLastErrorText. One thread at a time; readers
// share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A gzip file opened for reading through zlib. Only a file that starts with the gzip magic opens:
// zlib would read any other file as it is, and every damaged archive would pass for "gzip".
class CGzipFile {
public:
  CGzipFile() = default;
  virtual ~CGzipFile();
  CGzipFile(const CGzipFile&) = delete;
  CGzipFile& operator=(const CGzipFile&) = delete;

  virtual void close();
  virtual bool isOpen() const;
  // The whole decompressed stream, in a block of exactly its length that the caller frees with
  // delete[]. False on a read error, an empty stream, or more than kMaxDataSize bytes. The stream
  // is measured first and read a second time into its block, so a stream that is refused never
  // holds more than a small buffer, and one that is taken never holds more than its own length.
  virtual bool readAll(unsigned char** data, uint32_t* length);

  // Opens path for reading: fails when already open, when the file is missing or read-only, when
  // zlib cannot open it, or when it is not a gzip stream.
  bool openForReading(const std::string& path);

  // The most the reader takes into memory from one gzip stream or one ZIP entry handed out as a
  // block: an archive that claims or inflates to more is refused rather than exhausting memory.
  // readFile streams and has no such bound (the disk is the bound there).
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
  // The number of entries, or -1: also for a ZIP archive whose central directory does not hold
  // the entries its end record claims, and for a tar archive with a damaged or cut header
  // anywhere before its end marker.
  int getFileCount();
  int getFile(int index, const unsigned char** data, uint32_t* size, int* isFile, std::string* name);
  std::string getLastErrorText() const { return lastError_; }
  void close() override;

  // An entry without its bytes.
  enum EntryType { kRegularFile = 0, kFolder = 1, kOtherType = 2 }; // other: links, devices, FIFOs
  struct EntryInfo {
    std::string name;        // the stored name, "/" separators
    int type = kRegularFile; // as the archive records it
    bool executable = false; // a ZIP entry made on Unix with an execute bit
    uint64_t size = 0;       // the uncompressed size
  };
  int getFileInfo(int index, EntryInfo* info);

  // Hands the bytes of the entry at index to sink in pieces of at most kPieceSize bytes. 1: every
  // byte went to sink and the entry checked out (size, CRC, a compressed stream that ends exactly
  // where it is declared to). 0: the entry is damaged or missing (text in getLastErrorText); the
  // bytes already handed out must be thrown away. -1: sink answered false.
  using Sink = std::function<bool(const unsigned char* data, size_t size)>;
  int readFile(int index, const Sink& sink);
  static constexpr size_t kPieceSize = 256 * 1024;

  // Whether the entry of the last successful getFile is a program (a ZIP entry made on Unix with
  // an execute bit), so that the Linux installation can let it run.
  bool lastEntryExecutable() const { return lastExecutable_; }

  enum Kind { kNotOpened = 0, kZip = 1, kGzip = 2, kTarGzip = 3 };
  int kind() const { return kind_; }
  // How many tar headers the reader has looked at since it was opened (the tar archive is walked
  // once, when it opens).
  int tarHeadersRead() const { return tarHeadersRead_; }

  static const char kTextUnknownType[];

private:
  struct TarEntry {
    std::string name;
    uint32_t offset; // of the entry's data in data_
    uint32_t size;
    int type;
  };
  struct ZipPosition {
    uint64_t directoryOffset;
    uint64_t fileNumber;
  };

  bool indexZip();
  bool indexTar();
  bool goToZipEntry(int index, EntryInfo* info);
  int readZipFile(const Sink& sink);
  int getMemoryFile(int index, const unsigned char** data, uint32_t* size, EntryInfo* info);

  std::vector<unsigned char> pieceIn_, pieceOut_; // readFile's pieces, kept between entries
  void* zip_ = nullptr;           // unzFile
  unsigned char* data_ = nullptr; // the gzip stream, or the last ZIP entry
  uint32_t dataLength_ = 0;
  std::string lastError_;
  int32_t kind_ = kNotOpened;
  bool lastExecutable_ = false;

  // ZIP: every entry's place in the central directory, found in one walk when the archive opens;
  // whether the walk found as many entries as the end record claims; the current entry's facts.
  std::vector<ZipPosition> zipEntries_;
  bool zipComplete_ = false;
  uint64_t zipClaimed_ = 0;
  uint64_t currentCompressed_ = 0, currentSize_ = 0;
  uint32_t currentCrc_ = 0;
  int currentMethod_ = 0, currentFlags_ = 0;

  // tar: the entries found in one walk when the archive opens, and whether every header held up.
  std::vector<TarEntry> tarEntries_;
  bool tarComplete_ = false;
  int tarHeadersRead_ = 0;
};
