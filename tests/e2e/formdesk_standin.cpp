// Stands in for formdesk in the end-to-end checks: appends its arguments and its current folder,
// one line, to the file that FORMDESK_STANDIN_LOG names (or "formdesk-args.txt" in the current
// folder), and ends.
#include <cstdio>
#include <cstdlib>
#include <string>
#ifdef _WIN32
#include <direct.h>
#define getcwd _getcwd
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  const char* log = std::getenv("FORMDESK_STANDIN_LOG");
  std::FILE* f = std::fopen(log && *log ? log : "formdesk-args.txt", "a");
  if (!f) return 1;
  std::string line = "args:";
  for (int i = 1; i < argc; ++i)
    line += std::string(" [") + argv[i] + "]";
  char cwd[4096] = {};
  if (getcwd(cwd, sizeof cwd)) line += std::string(" cwd=") + cwd;
  bool ok = std::fprintf(f, "%s\n", line.c_str()) > 0;
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}
