// A stand-in for formdesk in the end-to-end tests: it writes down how it was started (its command
// line exactly as the system handed it over, and its current folder) by adding one line to
// formdesk-calls.txt in its current folder, and ends.
#include <cstdio>
#include <string>
#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  std::string line;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  line = GetCommandLineA();
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, cwd);
#else
  // The argument vector, one argument after another, separated by "|".
  for (int i = 0; i < argc; ++i)
    line += (i ? "|" : "") + std::string(argv[i]);
  char cwd[PATH_MAX] = {};
  if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
#endif
  FILE* f = std::fopen("formdesk-calls.txt", "a");
  if (!f) return 1;
  std::fprintf(f, "%s\t%s\n", line.c_str(), cwd);
  return std::fclose(f) == 0 ? 0 : 1;
}
