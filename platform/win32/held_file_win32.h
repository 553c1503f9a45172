// How the Windows backend waits out a file that another program holds for a moment (a virus
// scanner that checks a fresh file, the search indexer, a backup): one policy for replaceFile
// (files_win32.cpp) and AtomicFile (replace_file_win32.cpp). Private to the backend.
#pragma once

#include <windows.h>

namespace platform {
namespace detail {

// Scanners have been seen to hold a fresh file for up to half a minute; the pauses between tries
// start short, so that the common short hold costs little, and double up to a second.
constexpr DWORD kHeldFileWaitMs = 30000, kFirstPauseMs = 50, kLongestPauseMs = 1000;

// Whether the last failure's NT status says the file is being deleted: it goes away as soon as
// the last handle to it closes, and until then every open of it is refused as a denial of access.
inline bool deletePending() {
  using GetStatus = LONG(WINAPI*)();
  static const GetStatus lastStatus = reinterpret_cast<GetStatus>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetLastNtStatus")));
  return lastStatus && static_cast<DWORD>(lastStatus()) == 0xC0000056; // STATUS_DELETE_PENDING
}

// Whether a move onto target that failed with error may pass once another program lets go.
// Sharing and lock violations are such holds. A denial of access is one only when nothing but
// another program's handle stands in the way: Windows refuses to replace (or rename) a file that
// is open elsewhere, or that is being deleted, with a denial, while we may remove it ourselves.
// A denial that lasts (a read-only file, access rules that forbid us to remove the target) fails
// at once rather than after half a minute.
inline bool heldForNow(DWORD error, const wchar_t* target) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  DWORD attributes = GetFileAttributesW(target);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
  // May we remove the target? Opening it for DELETE (sharing everything, so another program's
  // handle that shares deletion does not refuse us) answers with the system's own access check.
  HANDLE h = CreateFileW(target, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  DWORD probe = GetLastError();
  return probe == ERROR_SHARING_VIOLATION || probe == ERROR_FILE_NOT_FOUND ||
         (probe == ERROR_ACCESS_DENIED && deletePending());
}

// Calls move() (true when done, else false with the system's error set) until it is done, fails
// for a reason that a wait does not cure, or kHeldFileWaitMs have passed. The system's error of
// the last try is kept.
template <class Move> bool moveOnceLetGo(const wchar_t* target, Move move) {
  DWORD start = GetTickCount();
  for (DWORD pause = kFirstPauseMs;; pause = pause * 2 > kLongestPauseMs ? kLongestPauseMs : pause * 2) {
    if (move()) return true;
    DWORD error = GetLastError();
    if (!heldForNow(error, target) || GetTickCount() - start >= kHeldFileWaitMs) {
      SetLastError(error);
      return false;
    }
    Sleep(pause);
  }
}

} // namespace detail
} // namespace platform
