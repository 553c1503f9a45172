// archive_extract ARCHIVE FOLDER: unpacks an archive the way the installation does
// (CSetup::extractArchive), for the benchmark against other unpackers.
// archive_extract --read ARCHIVE: reads every entry of any archive the reader knows (a .tgz too)
// through getFile, as the reader's other callers do, and prints the count.
#include <cstdio>
#include <string>

#include "archive_reader.h"
#include "platform/process_launcher.h"
#include "platform/registry.h"
#include "setup.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read") {
    CArchiveReader reader;
    if (!reader.open(argv[2])) return 1;
    int count = reader.getFileCount();
    for (int i = 0; i < count; ++i) {
      const unsigned char* data;
      uint32_t size;
      int isFile;
      std::string name;
      if (!reader.getFile(i, &data, &size, &isFile, &name)) return 1;
    }
    std::printf("%d entries\n", count);
    return count < 0 ? 1 : 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: archive_extract ARCHIVE FOLDER | archive_extract --read ARCHIVE\n");
    return 2;
  }
  CSetup s(platform::systemRegistry(), platform::systemProcessLauncher(),
           [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
  return s.extractArchive(argv[1], argv[2]) ? 0 : 1;
}
