// Reading a file at any offset without moving a shared position (pread on Linux, ReadFile with an
// offset on Windows), for readers that jump about a file, such as the ZIP layer: no seek is a
// system call of its own. Paths are byte strings in the ANSI code page. One thread at a time per
// object; separate objects share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class FileReader {
public:
  FileReader() = default;
  ~FileReader() { close(); }
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens the file for reading (others may go on writing or deleting it); false when it cannot be.
  bool open(const std::string& path);
  // The file's size when it was opened.
  uint64_t size() const { return size_; }
  // Reads up to count bytes at offset; the bytes read (0 at the end of the file), or -1 on failure.
  long long readAt(uint64_t offset, void* buffer, size_t count);
  void close();

private:
  uint64_t size_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

} // namespace platform
