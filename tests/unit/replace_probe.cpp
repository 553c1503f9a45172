// A stand-in for formwell in the installation tests.
//   replace_probe OUT                      removes what an earlier replacement set aside, as a
//                                          start of formwell does, and writes "probe" to OUT
//   replace_probe --replace                starts the replacement of its own program file by
//                                          loader.exe of the program folder, then ends at once, as
//                                          formwell does
//   replace_probe --run-until STARTED STOP writes STARTED, runs until STOP exists (at most 60 s)
//   replace_probe --path-after-replace OUT has its own program file replaced by a copy (renamed
//                                          over it), then writes its program path to OUT
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/files.h"
#include "setup.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string arg = argv[1];
  if (arg == "--replace") return setup.replaceSelf() == 1 ? 0 : 1;
  if (arg == "--run-until" && argc == 4) {
    std::ofstream(argv[2], std::ios::binary) << "started";
    for (int i = 0; i < 1200 && !platform::pathExists(argv[3]); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return 0;
  }
  if (arg == "--path-after-replace" && argc == 3) {
    std::string self = setup.modulePath(), copy = self + ".copy";
    std::error_code error;
    std::filesystem::copy_file(self, copy, error);
    // Windows cannot rename over a running program; replaceFile moves it aside first.
    if (error || !platform::replaceFile(copy, self)) return 3;
    std::ofstream(argv[2], std::ios::binary) << setup.modulePath();
    return 0;
  }
  setup.removeLeftovers();
  std::ofstream(arg, std::ios::binary) << "probe";
  return 0;
}
