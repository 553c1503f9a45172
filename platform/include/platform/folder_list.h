// What the installation needs of a folder beyond files.h: the names in it, removing it once it
// is empty, and asking the system to put everything written on a file system onto the disk.
// Paths are byte strings in the ANSI code page ("\" and "/" both separate names). Thread-safe.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The names of the entries in the folder at path ("." and ".." left out), in no set order; false
// when it cannot be read.
bool listFolder(const std::string& path, std::vector<std::string>* names);

// Removes the empty folder at path (never a link's target); false when it could not be removed.
bool removeFolder(const std::string& path);

// Writes what the system still holds for the file system of path to the disk, so that steps that
// follow (a marker removed) never reach the disk before it; false when that failed. Linux syncs the
// whole file system (syncfs). Windows lets only an administrator flush a volume, so there the
// guarantee comes from each write: every file written through OutFile or AtomicFile is flushed
// before it closes and every move is written through; this call flushes the folder at path itself
// (its entries), and fails when that folder cannot be opened for adding files.
bool flushFileSystem(const std::string& path);

} // namespace platform
