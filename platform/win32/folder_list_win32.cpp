#include "platform/folder_list.h"

#include <windows.h>

#include "platform/files.h"

namespace platform {

// The ANSI calls, as files_win32.cpp uses them: paths are ANSI code page text throughout.
bool listFolder(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  std::string folder = nativePath(path);
  DWORD attributes = GetFileAttributesA(folder.c_str());
  // A junction or other reparse point in the folder's place is not listed through.
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileA(h, &found));
  bool whole = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(h);
  return whole;
}

bool removeFolder(const std::string& path) { return RemoveDirectoryA(nativePath(path).c_str()) != 0; }

// Flushing a whole volume (FlushFileBuffers on \\.\C:) needs an administrator, which the kit never
// has. What a standard user can flush is the folder itself: its handle, opened with the one right
// a flush needs (adding files), writes the folder's entries to the disk. The files' bytes are on
// the disk already, each flushed before it was closed (OutFile::close, AtomicFile::commit), and
// every move was written through (MOVEFILE_WRITE_THROUGH); NTFS writes its journal in order, so
// the folders made before those moves are on the disk with them.
bool flushFileSystem(const std::string& path) {
  HANDLE h = CreateFileA(nativePath(path).c_str(), FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // A file system that cannot flush a folder (FAT on a memory stick) has nothing more to give.
  bool ok = FlushFileBuffers(h) || GetLastError() == ERROR_INVALID_FUNCTION;
  CloseHandle(h);
  return ok;
}

} // namespace platform
