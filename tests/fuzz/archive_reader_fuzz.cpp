// Fuzz target: whatever bytes the archive file holds, open, count, every getFile and every
// streamed readFile neither crash nor read out of bounds, every block handed out is as long as it
// says, and an entry streamed whole is exactly as long as its description says.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "archive_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader opens files by name; each fuzzing process has its own.
  static const std::string path = "/tmp/formwell-fuzz-" + std::to_string(getpid()) + ".bin";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  CArchiveReader reader;
  reader.close();
  if (reader.open(path)) {
    int count = reader.getFileCount();
    for (int i = 0; i < count && i < 10000; ++i) {
      const unsigned char* block = nullptr;
      uint32_t length = 0;
      int isFile = 0;
      std::string name;
      CArchiveReader::EntryInfo info;
      if (reader.getFileInfo(i, &info)) {
        uint64_t streamed = 0;
        int read = reader.readFile(i, [&streamed](const unsigned char* piece, size_t n) {
          volatile unsigned char touch = n ? piece[n - 1] : 0;
          (void)touch;
          streamed += n;
          return streamed < (64u << 20); // a bomb is cut short here, as a full disk would
        });
        if (read == 1 && streamed != info.size) __builtin_trap();
      }
      if (!reader.getFile(i, &block, &length, &isFile, &name)) continue;
      volatile unsigned char sink = 0;
      for (uint32_t k = 0; k < length; k += 4096)
        sink = sink ^ block[k];
      if (length) sink = sink ^ block[length - 1];
    }
    reader.getLastErrorText();
  }
  reader.close();
  return 0;
}
