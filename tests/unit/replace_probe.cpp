// A stand-in for formwell in the self-replacement test.
//   replace_probe OUT        writes "probe" to OUT
//   replace_probe --replace  starts the replacement of its own program file by loader.exe of the
//                            program folder, then ends at once, as formwell does
#include <fstream>
#include <string>

#include "setup.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string arg = argv[1];
  if (arg == "--replace") return setup.replaceSelf() == 1 ? 0 : 1;
  std::ofstream(arg, std::ios::binary) << "probe";
  return 0;
}
