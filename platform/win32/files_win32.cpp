#include "platform/files.h"

#include <windows.h>

#include "held_file_win32.h"
#include "platform/codepage.h"

namespace platform {

std::string nativePath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}

bool OutFile::createAlways(const std::string& path) {
  close();
  HANDLE h = CreateFileA(nativePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

bool OutFile::createNew(const std::string& path) {
  close();
  // CREATE_NEW fails on anything at path; a link there is not followed.
  HANDLE h = CreateFileA(nativePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

bool OutFile::write(const void* data, size_t size) {
  if (!handle_) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(handle_), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

bool OutFile::isOpen() const { return handle_ != nullptr; }

// Every file the kit writes through here (unpacked files, a download) reaches the disk before it is
// closed, so that after a power cut a file that a later step relies on holds its bytes, never the
// zeros of space that was allocated but not yet written. (Linux syncs the whole file system once
// at the end of an installation instead: a sync per file would slow the unpacking of thousands.)
bool OutFile::close() {
  if (!handle_) return false;
  HANDLE h = static_cast<HANDLE>(handle_);
  handle_ = nullptr;
  bool ok = FlushFileBuffers(h) != 0;
  return CloseHandle(h) && ok; // a full disk may only show in the flush or here
}

bool makeSurePathExists(const std::string& path) {
  // As MakeSureDirectoryPathExists: every folder up to the last separator, written out here
  // so the program does not need the image-help library for it.
  std::string p = nativePath(path);
  size_t last = p.rfind('\\');
  if (last == std::string::npos) return true;
  size_t start = 0;
  if (p.size() >= 2 && p[1] == ':') start = 2;                                 // "C:"
  if (p.compare(0, 2, "\\\\") == 0) start = p.find('\\', p.find('\\', 2) + 1); // "\\server\share"
  if (start == std::string::npos) return true;
  for (size_t i = start + 1; i <= last; ++i) {
    if (p[i] != '\\' || p[i - 1] == '\\') continue;
    std::string dir = p.substr(0, i);
    if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    DWORD a = GetFileAttributesA(dir.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  }
  return true;
}

bool pathExists(const std::string& path) {
  return GetFileAttributesA(nativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

PathKind pathKind(const std::string& path) {
  DWORD a = GetFileAttributesA(nativePath(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::kLink;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  if (a & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
  return PathKind::kFile;
}

bool makeFolder(const std::string& path) {
  if (!CreateDirectoryA(nativePath(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  return pathKind(path) == PathKind::kFolder;
}

namespace {

// Each move is on the disk before MoveFileEx returns (MOVEFILE_WRITE_THROUGH): the order of the
// steps that follow (the installation's mark removed last) is then also their order on the disk.
constexpr DWORD kWriteThrough = MOVEFILE_WRITE_THROUGH;

// One try at putting from in the place of to; false with the system's error set.
bool replaceOnce(const std::string& source, const std::string& target) {
  if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | kWriteThrough)) return true;
  // A running program or a loaded library cannot be replaced, but it can be renamed: move it
  // aside, put the new file in its place, and remove the old one if nothing uses it any more.
  DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
  std::string aside;
  for (unsigned n = GetTickCount() & 0xFFFF, tries = 0; tries < 100; ++n, ++tries) {
    std::string candidate = target + ".old-" + std::to_string(n);
    if (MoveFileExA(target.c_str(), candidate.c_str(), kWriteThrough)) {
      aside = candidate;
      break;
    }
    error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
      SetLastError(error);
      return false;
    }
  }
  if (aside.empty()) return false;
  if (!MoveFileExA(source.c_str(), target.c_str(), kWriteThrough)) {
    error = GetLastError();
    MoveFileExA(aside.c_str(), target.c_str(), kWriteThrough); // the old file goes back where it was
    SetLastError(error);
    return false;
  }
  DeleteFileA(aside.c_str()); // fails while the old file is in use; it stays then
  return true;
}

} // namespace

bool replaceFile(const std::string& from, const std::string& to) {
  std::string source = nativePath(from), target = nativePath(to);
  // A file that another program holds for a moment (a virus scanner checking the fresh file, the
  // search indexer) refuses to be moved: that is not a failed update, so it is tried again for up
  // to half a minute. A denial of access that renaming the target aside did not cure, and that no
  // other program's handle explains, fails at once (held_file_win32.h).
  std::u16string wideTarget = ansiToWide(target);
  return detail::moveOnceLetGo(reinterpret_cast<const wchar_t*>(wideTarget.c_str()),
                               [&] { return replaceOnce(source, target); });
}

bool removeFile(const std::string& path) { return DeleteFileA(nativePath(path).c_str()) != 0; }

bool readFile(const std::string& path, std::string* contents) {
  HANDLE h = CreateFileA(nativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::string out;
  char buf[65536];
  DWORD n = 0;
  bool ok = true;
  while ((ok = ReadFile(h, buf, sizeof buf, &n, nullptr) != 0) && n > 0)
    out.append(buf, n);
  CloseHandle(h);
  if (!ok) return false;
  *contents = std::move(out);
  return true;
}

bool PrivateTempFolder::create() {
  if (!path_.empty()) return true;
  wchar_t base[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) return false;
  // The user's temporary folder is the user's own; a fresh name under it that nobody held before.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    wchar_t name[MAX_PATH + 64];
    wsprintfW(name, L"%sformwell-%08lx-%04x", base, static_cast<unsigned long>(GetCurrentProcessId()),
              (GetTickCount() + attempt * 7919u) & 0xFFFFu);
    if (CreateDirectoryW(name, nullptr)) {
      int size = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
      if (size <= 1) {
        RemoveDirectoryW(name);
        return false;
      }
      std::string ansi(static_cast<size_t>(size - 1), '\0');
      WideCharToMultiByte(CP_ACP, 0, name, -1, &ansi[0], size, nullptr, nullptr);
      path_ = ansi + "\\";
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

PrivateTempFolder::~PrivateTempFolder() {
  if (path_.empty()) return;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string n = found.cFileName;
      if (n != "." && n != "..") DeleteFileA((path_ + n).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path_.c_str());
}

} // namespace platform
