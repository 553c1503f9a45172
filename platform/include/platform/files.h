// Files and folders. Paths are byte strings in the ANSI code page as the kit's code writes them
// on Windows: "\" and "/" both separate names (Linux reads "\" as "/"). Thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A file opened for writing: created anew (an existing one is truncated), shared for writing,
// normal attributes. Closes itself. Not copyable. On Windows its bytes are flushed to the disk
// when it closes; on Linux they are not (one syncfs, platform::flushFileSystem, after many files
// costs far less than a sync per file).
class OutFile {
public:
  OutFile() = default;
  ~OutFile() { close(); }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  bool createAlways(const std::string& path);
  // Creates a new file that only this process has open; fails when anything is at path already,
  // a link included (nothing is written through a link).
  bool createNew(const std::string& path);
  // Writes all bytes; false when any of them could not be written.
  bool write(const void* data, size_t size);
  bool isOpen() const;
  // Closes the file (Windows: after flushing it to the disk); false when it was not open or the
  // system reports that written bytes did not reach the file (a full disk may only show here).
  bool close();

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

// What is at path, without following a link at its last name. Links are symbolic links on Linux,
// and symbolic links, junctions and other reparse points on Windows.
enum class PathKind { kMissing, kFile, kFolder, kLink, kOther };
PathKind pathKind(const std::string& path);

// Creates the one folder path (its parent must exist); true when a folder, not a link, is there.
bool makeFolder(const std::string& path);

// Puts the file from in the place of the file to in one step: anyone who opens to gets either the
// old file or the whole new one. A program that runs from to, or has it loaded as a library, goes
// on with the old file (Windows: the old file is first renamed aside, to + ".old-" + a number,
// and removed when it is no longer in use, or else left there). Windows: every move is written
// through to the disk before this returns; a file that another program holds (a virus scanner)
// is tried again, with growing pauses, for up to 30 seconds, while a denial of access that lasts
// fails at once. Linux: a rename (made durable by flushFileSystem). False leaves to as it was.
bool replaceFile(const std::string& from, const std::string& to);

// Removes a file (not a folder); false when it could not be removed.
bool removeFile(const std::string& path);

// Reads a whole file; false when it cannot be read.
bool readFile(const std::string& path, std::string* contents);

// A fresh folder in the user's temporary folder that only this user may enter (0700 on Linux; the
// user's own temporary folder on Windows), for a helper program's output before the kit moves it
// into place. Removed with the files in it when the object ends. Not copyable.
class PrivateTempFolder {
public:
  PrivateTempFolder() = default;
  ~PrivateTempFolder();
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
  bool create();
  // The folder with a separator at its end; empty until created.
  const std::string& path() const { return path_; }

private:
  std::string path_;
};

// The path with the platform's separators ("\" on Windows, "/" on Linux).
std::string nativePath(const std::string& path);

} // namespace platform
