// Facts about files and paths that the archive reader and the installation need. Paths are byte
// strings in the ANSI code page, "\" and "/" both separating names (as in files.h). Thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The size of the file at path in bytes, or -1 when it cannot be had.
int64_t fileSize(const std::string& path);

// When the file at path was last written, in 100-nanosecond steps from an epoch of the system's
// (comparable between files of one machine only), or -1 when it cannot be had.
int64_t fileModifiedTime(const std::string& path);

// Whether a and b name the same file or folder (the same volume and file id; Windows: also when
// one is written in its short form or with other capitals). False when either is missing.
bool sameFile(const std::string& a, const std::string& b);

// Whether this process may write to the file at path. A file without any write permission
// counts as read-only even for a user whom the system would let write (root), like the read-only
// attribute on Windows.
bool fileWritable(const std::string& path);

// The absolute path that the system will use for path: GetFullPathName on Windows; on Linux the
// path made absolute against the current folder with "." and ".." resolved lexically and repeated
// separators merged. A trailing separator stays. Empty when it cannot be had.
std::string fullPath(const std::string& path);

// Lets the file at path be run as a program (Linux: the execute bits; Windows: nothing to do).
bool markExecutable(const std::string& path);

} // namespace platform
