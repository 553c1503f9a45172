// replaceFileContents on Windows: a temporary file beside the target, FlushFileBuffers, then
// MoveFileEx with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, which replaces the target in
// one step on NTFS.
#include "platform/replace_file.h"

#include <windows.h>

#include "platform/codepage.h"

namespace platform {

bool replaceFileContents(const std::string& path, const void* data, size_t size) {
  std::u16string target = ansiToWide(path);
  std::u16string tmp = target + u".tmp." + ansiToWide(std::to_string(GetCurrentProcessId()));
  const wchar_t* tmpW = reinterpret_cast<const wchar_t*>(tmp.c_str());
  HANDLE h = CreateFileW(tmpW, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const char* p = static_cast<const char*>(data);
  bool ok = true;
  while (ok && size > 0) {
    DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    ok = WriteFile(h, p, chunk, &written, nullptr) && written == chunk;
    p += written;
    size -= written;
  }
  ok = ok && FlushFileBuffers(h);
  ok = CloseHandle(h) && ok;
  if (!ok || !MoveFileExW(tmpW, reinterpret_cast<const wchar_t*>(target.c_str()),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(tmpW);
    return false;
  }
  return true;
}

} // namespace platform
