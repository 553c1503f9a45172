// The newer program that the self-replacement test copies over the probe: writes "loader".
#include <fstream>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::ofstream(argv[1], std::ios::binary) << "loader";
  return 0;
}
