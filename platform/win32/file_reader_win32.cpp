#include "platform/file_reader.h"

#include <windows.h>

#include "platform/files.h"

namespace platform {

bool FileReader::open(const std::string& path) {
  close();
  HANDLE h = CreateFileA(nativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h, &size) || (GetFileAttributesA(nativePath(path).c_str()) & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(h);
    return false;
  }
  handle_ = h;
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

// A synchronous handle reads at the offset that OVERLAPPED names.
long long FileReader::readAt(uint64_t offset, void* buffer, size_t count) {
  if (!handle_) return -1;
  if (count > 0x40000000) count = 0x40000000;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(handle_), buffer, static_cast<DWORD>(count), &got, &at))
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return got;
}

void FileReader::close() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  size_ = 0;
}

} // namespace platform
