// Files and folders. Paths are byte strings in the ANSI code page as the kit's code writes them
// on Windows: "\" and "/" both separate names (Linux reads "\" as "/"). Thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A file opened for writing: created anew (an existing one is truncated), shared for writing,
// normal attributes. Closes itself. Not copyable.
class OutFile {
public:
  OutFile() = default;
  ~OutFile() { close(); }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  bool createAlways(const std::string& path);
  // Writes all bytes; false when any of them could not be written.
  bool write(const void* data, size_t size);
  bool isOpen() const;
  void close();

private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// Creates every missing folder of path up to its last separator; what follows the last
// separator is a file name and is not created (MakeSureDirectoryPathExists).
bool makeSurePathExists(const std::string& path);

// Whether a file or folder exists at path.
bool pathExists(const std::string& path);

// Reads a whole file; false when it cannot be read.
bool readFile(const std::string& path, std::string* contents);

// Puts the file at from in the place of the file at to in one step (rename; MoveFileEx with
// MOVEFILE_REPLACE_EXISTING on Windows), so that to is always either the old file or the whole
// new one. Both lie in the same folder. False when it could not be done; then both stay.
bool replaceFile(const std::string& from, const std::string& to);

// Removes a file; false when it could not be removed (also when there was none).
bool removeFile(const std::string& path);

// The path with the platform's separators ("\" on Windows, "/" on Linux).
std::string nativePath(const std::string& path);

} // namespace platform
