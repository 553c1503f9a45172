// archive_extract ARCHIVE FOLDER: unpacks an archive the way the installation does
// (CSetup::extractArchive), for the benchmark against other unpackers.
#include <cstdio>

#include "platform/process_launcher.h"
#include "platform/registry.h"
#include "setup.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: archive_extract ARCHIVE FOLDER\n");
    return 2;
  }
  CSetup s(platform::systemRegistry(), platform::systemProcessLauncher(),
           [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
  return s.extractArchive(argv[1], argv[2]) ? 0 : 1;
}
