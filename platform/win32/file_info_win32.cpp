#include "platform/file_info.h"

#include "platform/codepage.h"

#include <io.h>
#include <vector>
#include <windows.h>

namespace platform {

int64_t fileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) return -1;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

int64_t fileModifiedTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info)) return -1;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                              info.ftLastWriteTime.dwLowDateTime);
}

namespace {

bool fileId(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  std::u16string wide = ansiToWide(path);
  // No access is asked for, only the file's identity; folders need the backup-semantics flag.
  HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return ok;
}

} // namespace

bool sameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return fileId(a, &ia) && fileId(b, &ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool fileWritable(const std::string& path) { return _access(path.c_str(), 6) == 0; }

std::string fullPath(const std::string& path) {
  if (path.empty()) return "";
  std::vector<char> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buf.size()), buf.data(), nullptr);
    if (n == 0) return "";
    if (n < buf.size()) return std::string(buf.data(), n);
    buf.resize(n + 1);
  }
}

bool markExecutable(const std::string&) { return true; }

} // namespace platform
