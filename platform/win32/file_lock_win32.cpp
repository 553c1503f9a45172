#include "platform/file_lock.h"

#include <windows.h>

#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {

// Windows keeps the lock as the file's sharing: opened with no sharing at all, nobody else can
// open it until the handle closes, also when the process ends without closing it.
bool FileLock::lock(const std::string& path, int timeoutMs) {
  unlock();
  std::u16string wide = ansiToWide(nativePath(path));
  DWORD start = GetTickCount();
  for (;;) {
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = h;
      return held_ = true;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount() - start >= static_cast<DWORD>(timeoutMs))
      return false;
    Sleep(50);
  }
}

void FileLock::unlock() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  held_ = false;
}

} // namespace platform
