// Fuzz target: whatever bytes a hive file holds, parsing neither throws nor reads out of bounds,
// and what the hive then writes reads back whole and writes the very same text again, so a hive
// that the kit has written once never turns into a damaged one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reg_hive.h"

using platform::detail::Hive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Hive hive("HKEY_LOCAL_MACHINE");
  hive.parse(std::string(reinterpret_cast<const char*>(data), size));
  hive.hasKey("software\\orvanta\\formwell");
  const std::string text = hive.serialize();

  Hive again("HKEY_LOCAL_MACHINE");
  if (!again.parse(text)) {
    std::fprintf(stderr, "the written hive does not read back whole:\n%s\n", text.c_str());
    std::abort();
  }
  if (again.serialize() != text) {
    std::fprintf(stderr, "the written hive changes when written again:\n%s\n", text.c_str());
    std::abort();
  }
  return 0;
}
