// The one way the kit replaces a file it owns (saved data, the QR picture, the hives, installed
// files), so that readers only ever see the old or the whole new content. The bytes go to a
// temporary file beside the target that only this call created (exclusive, no link followed), are
// flushed to the disk, and the temporary file is renamed over the target; the folder is synced
// so that the rename survives a power cut. A crash, a kill or a full disk at any moment leaves the
// previous file whole.
//
// Rules:
// - Nothing is written through a link: a target that is a symbolic link (Windows: any reparse
//   point) is refused, and so is anything but a plain file. A caller that wants a link kept (the
//   hives) resolves it first and hands in the file at its end.
// - A new file is private to the user: mode newFileMode, 0600 unless asked otherwise, on Linux; on
//   Windows the folder's inherited access rules. An existing file keeps its mode and, where this
//   process may give files away (root), its owner and group. Run as root, a new file takes the
//   owner of the folder it is created in, so that a user's file stays the user's.
// - Windows: a target that another program holds for a moment (a virus scanner checking it, the
//   search indexer) is tried again, with pauses growing from 50 ms to 1 s, for up to 30 seconds;
//   a denial of access that no other program's handle explains (a read-only file, access rules)
//   fails at once.
// - The temporaries are named ".fwtmp.<pid>.<random>"; removeStaleTemporaries removes those of
//   processes that have ended (and the "<name>.tmp.<pid>" files that earlier versions left).
//
// Paths are byte strings in the ANSI code page ("\" and "/" both separate names). Each AtomicFile
// belongs to one thread; different objects may be used on different threads.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Streams a new content for a file the kit owns; nothing is visible at path until commit().
class AtomicFile {
public:
  AtomicFile();
  ~AtomicFile(); // an uncommitted temporary is removed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary beside path. False when path is a link or not a plain file, its folder
  // is missing, or no temporary can be created. newFileMode is used on Linux for a new file only.
  bool open(const std::string& path, int newFileMode = 0600);
  // Appends bytes; false when any could not be written (then commit() fails too).
  bool write(const void* data, size_t size);
  // Flushes and syncs, keeps an existing target's mode, renames over the target and syncs the
  // folder. False leaves the target untouched and the temporary removed.
  bool commit();
  // Drops the temporary; the target stays as it was.
  void discard();

private:
  struct State;
  State* state_;
};

// Replaces (or creates) the file at path with exactly these bytes (open, write, commit); size 0
// leaves an empty file. False when any step failed; the previous file is then untouched and no
// temporary file is left.
bool replaceFileContents(const std::string& path, const void* data, size_t size);

// Removes the kit's temporaries in folder that processes which have ended left behind; those of
// running processes stay. Call it at start-up for the folders the kit writes.
void removeStaleTemporaries(const std::string& folder);

} // namespace platform
