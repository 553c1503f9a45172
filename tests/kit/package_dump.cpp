// Reads the package that a Windows formwell.exe carries, the way the installation meets it: the
// resource "BINARY" 160 in language 2052 (simplified Chinese), opened with the kit's own archive
// reader. Prints every member in archive order ("d NAME" for a folder, "f NAME SIZE" for a file)
// and writes the files under OUT-DIR, so that the check can look at the programs inside.
//   package_dump FORMWELL.EXE OUT-DIR
// Exits 0 when the whole package was read, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive_reader.h"

namespace fs = std::filesystem;

namespace {

// A member name that stays inside the output folder: relative, no "..", no drive or stream.
bool safeName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos || name.find(':') != std::string::npos)
    return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

bool writeFile(const fs::path& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: package_dump FORMWELL.EXE OUT-DIR\n");
    return 1;
  }
  HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) {
    std::fprintf(stderr, "cannot load %s as a resource file (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  HRSRC found =
      FindResourceExA(module, "BINARY", MAKEINTRESOURCEA(160), MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  DWORD size = found ? SizeofResource(module, found) : 0;
  if (!bytes || size == 0) {
    std::fprintf(stderr, "%s carries no resource BINARY 160 in language 2052\n", argv[1]);
    return 1;
  }

  fs::path out = argv[2];
  std::error_code ec;
  fs::create_directories(out, ec);
  std::string archive = (out / "package.zip").string();
  if (!writeFile(archive, bytes, size)) {
    std::fprintf(stderr, "cannot write %s\n", archive.c_str());
    return 1;
  }
  FreeLibrary(module);

  CArchiveReader reader;
  if (reader.open(archive) != 1 || reader.kind() != CArchiveReader::kZip) {
    std::fprintf(stderr, "the package is no ZIP archive: %s\n", reader.getLastErrorText().c_str());
    return 1;
  }
  int count = reader.getFileCount();
  if (count <= 0) {
    std::fprintf(stderr, "the package has no members\n");
    return 1;
  }
  fs::path members = out / "members";
  for (int i = 0; i < count; ++i) {
    const unsigned char* data = nullptr;
    uint32_t length = 0;
    int isFile = 0;
    std::string name;
    if (reader.getFile(i, &data, &length, &isFile, &name) != 1) {
      std::fprintf(stderr, "member %d: %s\n", i, reader.getLastErrorText().c_str());
      return 1;
    }
    if (!safeName(name)) {
      std::fprintf(stderr, "member %d has a name that leaves the folder: %s\n", i, name.c_str());
      return 1;
    }
    bool folder = name.back() == '/';
    if (folder) {
      std::printf("d %s\n", name.c_str());
      fs::create_directories(members / name, ec);
      continue;
    }
    std::printf("f %s %u\n", name.c_str(), static_cast<unsigned>(length));
    fs::path target = members / name;
    fs::create_directories(target.parent_path(), ec);
    if (!writeFile(target, data, length)) {
      std::fprintf(stderr, "cannot write %s\n", target.string().c_str());
      return 1;
    }
  }
  reader.close();
  return std::fflush(stdout) == 0 ? 0 : 1;
}
