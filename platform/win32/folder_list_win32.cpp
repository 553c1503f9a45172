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

bool flushFileSystem(const std::string&) { return true; }

} // namespace platform
