// The newer program that the self-replacement test copies over the probe: at its start it removes
// what the replacement set aside, as formwell does, and writes "loader".
#include <fstream>

#include "setup.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  setup.removeLeftovers();
  std::ofstream(argv[1], std::ios::binary) << "loader";
  return 0;
}
