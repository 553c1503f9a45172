// formwell-pack: writes the package archive that formwell carries.
//
//   formwell-pack OUT.zip NAME=PATH...
//
// Members are written in the order given. NAME ending in "/" takes the folder tree at PATH: the
// folder is a member of its own, ahead of its contents, and each sub-folder likewise; names within
// a folder are sorted, so the same tree always gives the same archive. Any other NAME is one file.
// Every member carries the same fixed time stamp (the reader hands out none) and a Unix mode, so
// that programs stay programs when unpacked on Linux. The archive is written beside OUT and renamed
// over it only when its bytes differ, so a build that changes nothing does not touch OUT.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <minizip/zip.h>
#include <zlib.h>

namespace {

class CPackageWriter {
public:
  explicit CPackageWriter(const std::string& path) : zip_(zipOpen64(path.c_str(), APPEND_STATUS_CREATE)) {}
  ~CPackageWriter() {
    if (zip_) zipClose(zip_, nullptr);
  }
  CPackageWriter(const CPackageWriter&) = delete;
  CPackageWriter& operator=(const CPackageWriter&) = delete;

  bool ok() const { return zip_ != nullptr; }

  bool addTree(const std::string& name, const std::string& path) {
    if (!addMember(name, nullptr, 0, 040755)) return false;
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (!dir) return fail("cannot read folder " + path);
    while (dirent* e = readdir(dir))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      std::string child = path + "/" + n;
      struct stat st;
      if (stat(child.c_str(), &st) != 0) return fail("cannot read " + child);
      bool done = S_ISDIR(st.st_mode) ? addTree(name + n + "/", child) : addFile(name + n, child);
      if (!done) return false;
    }
    return true;
  }

  bool addFile(const std::string& name, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot read " + path);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return fail("cannot read " + path);
    unsigned mode = 0100000 | ((st.st_mode & 0111) ? 0755 : 0644);
    return addMember(name, bytes.data(), bytes.size(), mode);
  }

  bool finish() {
    int rc = zipClose(zip_, nullptr);
    zip_ = nullptr;
    return rc == ZIP_OK || fail("cannot finish the archive");
  }

private:
  bool addMember(const std::string& name, const char* data, size_t size, unsigned mode) {
    zip_fileinfo info = {};
    info.dosDate = (30u << 25) | (1u << 21) | (1u << 16); // 2010-01-01 00:00, the same for every build
    bool folder = (mode & 040000) != 0;
    // The Unix mode in the high half; the low byte is the DOS attribute (folder or normal file).
    info.external_fa = (static_cast<uLong>(mode) << 16) | (folder ? 0x10 : 0x80);
    const uLong madeOnUnix = (3u << 8) | 20;
    int rc = zipOpenNewFileInZip4_64(zip_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                     folder ? 0 : Z_DEFLATED, folder ? 0 : 9, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                     Z_DEFAULT_STRATEGY, nullptr, 0, madeOnUnix, 0, 0);
    if (rc != ZIP_OK) return fail("cannot add " + name);
    if (size > 0 && zipWriteInFileInZip(zip_, data, static_cast<unsigned>(size)) != ZIP_OK)
      return fail("cannot write " + name);
    return zipCloseFileInZip(zip_) == ZIP_OK || fail("cannot write " + name);
  }

  static bool fail(const std::string& what) {
    std::fprintf(stderr, "formwell-pack: %s\n", what.c_str());
    return false;
  }

  zipFile zip_;
};

bool sameBytes(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  if (!fa || !fb) return false;
  return std::equal(std::istreambuf_iterator<char>(fa), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(fb), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: formwell-pack OUT.zip NAME=PATH...\n");
    return 2;
  }
  std::string out = argv[1];
  std::string temp = out + ".new";
  {
    CPackageWriter writer(temp);
    if (!writer.ok()) {
      std::fprintf(stderr, "formwell-pack: cannot create %s\n", temp.c_str());
      return 1;
    }
    for (int i = 2; i < argc; ++i) {
      std::string arg = argv[i];
      size_t eq = arg.find('=');
      if (eq == std::string::npos || eq == 0) {
        std::fprintf(stderr, "formwell-pack: not NAME=PATH: %s\n", arg.c_str());
        return 2;
      }
      std::string name = arg.substr(0, eq), path = arg.substr(eq + 1);
      bool done = name.back() == '/' ? writer.addTree(name, path) : writer.addFile(name, path);
      if (!done) return 1;
    }
    if (!writer.finish()) return 1;
  }
  if (sameBytes(temp, out)) {
    std::remove(temp.c_str());
    return 0;
  }
  if (std::rename(temp.c_str(), out.c_str()) != 0) {
    std::fprintf(stderr, "formwell-pack: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
