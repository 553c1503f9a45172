// Writing a file so that readers only ever see the old or the whole new content: the bytes go to a
// temporary file beside the target, are flushed to the disk, and the temporary file is renamed
// over the target. A crash, a kill or a full disk at any moment leaves the previous file whole.
// Paths are byte strings in the ANSI code page ("\" and "/" both separate names). Thread-safe.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Replaces (or creates) the file at path with exactly these bytes; size 0 leaves an empty file.
// False when any step failed; the previous file is then untouched and no temporary file is left.
bool replaceFileContents(const std::string& path, const void* data, size_t size);

} // namespace platform
