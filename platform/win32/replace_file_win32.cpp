// AtomicFile on Windows: the temporary is created with CREATE_NEW (which fails on anything already
// at its name, a link included) and no sharing, flushed with FlushFileBuffers, and moved over the
// target with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, one step on NTFS. A new file gets
// the folder's inherited access rules; a replaced one keeps its hidden and system attributes.
#include "platform/replace_file.h"

#include <windows.h>

#include "../common/temp_name.h"
#include "held_file_win32.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {

struct AtomicFile::State {
  HANDLE file = INVALID_HANDLE_VALUE;
  bool ok = false;
  std::u16string target;
  std::u16string temp; // empty when there is none
};

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// A file that another program holds for a moment (a virus scanner, the search indexer, a backup)
// makes a replace fail with a sharing violation or a denial of access: that is tried again for up
// to half a minute, and a denial that lasts fails at once (held_file_win32.h).
bool moveOver(const std::u16string& from, const std::u16string& to) {
  return detail::moveOnceLetGo(w(to), [&] {
    return MoveFileExW(w(from), w(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  });
}

// A plain file, or nothing, at path: what may be replaced.
bool replaceable(const std::u16string& path, DWORD* attributes) {
  *attributes = GetFileAttributesW(w(path));
  if (*attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  return !(*attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

bool processAlive(long pid) {
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!h) return GetLastError() != ERROR_INVALID_PARAMETER; // no such process; else one we may not see
  bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running;
}

} // namespace

AtomicFile::AtomicFile() : state_(new State) {}

AtomicFile::~AtomicFile() {
  discard();
  delete state_;
}

bool AtomicFile::open(const std::string& path, int /*newFileMode*/) {
  discard();
  State& s = *state_;
  s.target = ansiToWide(nativePath(path));
  size_t slash = s.target.find_last_of(u"\\:");
  std::u16string folder = slash == std::u16string::npos ? std::u16string() : s.target.substr(0, slash + 1);
  DWORD attributes;
  if (slash + 1 == s.target.size() || !replaceable(s.target, &attributes)) return false;
  static volatile LONG counter = 0;
  for (int tries = 0; tries < 100; ++tries) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long salt = static_cast<unsigned long long>(now.QuadPart) ^
                              (static_cast<unsigned long long>(InterlockedIncrement(&counter)) * 0x9E3779B97F4A7C15ull);
    s.temp = folder + ansiToWide(detail::tempName(static_cast<long>(GetCurrentProcessId()), salt));
    s.file = CreateFileW(w(s.temp), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (s.file != INVALID_HANDLE_VALUE) {
      s.ok = true;
      return true;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  s.temp.clear();
  return false;
}

bool AtomicFile::write(const void* data, size_t size) {
  State& s = *state_;
  if (s.file == INVALID_HANDLE_VALUE) return false;
  const char* p = static_cast<const char*>(data);
  while (s.ok && size > 0) {
    DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    s.ok = WriteFile(s.file, p, chunk, &written, nullptr) && written == chunk;
    p += written;
    size -= written;
  }
  return s.ok;
}

bool AtomicFile::commit() {
  State& s = *state_;
  if (s.file == INVALID_HANDLE_VALUE || !s.ok) {
    discard();
    return false;
  }
  bool ok = FlushFileBuffers(s.file) != 0;
  ok = CloseHandle(s.file) && ok; // a full disk may only show here
  s.file = INVALID_HANDLE_VALUE;
  DWORD attributes;
  ok = ok && replaceable(s.target, &attributes); // still no link or folder since open()
  if (ok && attributes != INVALID_FILE_ATTRIBUTES)
    SetFileAttributesW(w(s.temp),
                       (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) | FILE_ATTRIBUTE_NORMAL);
  if (!ok || !moveOver(s.temp, s.target)) {
    discard();
    return false;
  }
  s.temp.clear();
  discard();
  return true;
}

void AtomicFile::discard() {
  State& s = *state_;
  if (s.file != INVALID_HANDLE_VALUE) CloseHandle(s.file);
  s.file = INVALID_HANDLE_VALUE;
  if (!s.temp.empty()) DeleteFileW(w(s.temp));
  s.temp.clear();
  s.ok = false;
}

bool replaceFileContents(const std::string& path, const void* data, size_t size) {
  AtomicFile file;
  return file.open(path) && file.write(data, size) && file.commit();
}

void removeStaleTemporaries(const std::string& folder) {
  std::u16string base = ansiToWide(nativePath(folder));
  if (!base.empty() && base.back() != u'\\') base += u'\\';
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(w(base + u"*"), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    long pid = detail::temporaryOwner(wideToAnsi(name));
    if (pid > 0 && !processAlive(pid)) DeleteFileW(w(base + name)); // a link goes, not its target
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

} // namespace platform
