#include "platform/files.h"

#include <windows.h>

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

void OutFile::close() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
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

bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(nativePath(from).c_str(), nativePath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(const std::string& path) { return DeleteFileA(nativePath(path).c_str()) != 0; }

} // namespace platform
