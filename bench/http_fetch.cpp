// Fetches one URL through CHttpClient into a file, 16 KiB at a time, the way the package
// download does. Used by bench/download.sh to compare with curl.
//   http_fetch URL FILE
#include <cstdio>

#include "http_client.h"
#include "version_check.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: http_fetch URL FILE\n");
    return 2;
  }
  formwell::CHttpClient client;
  if (!client.openUrl(argv[1], nullptr, nullptr, formwell::kUserAgent)) return 1;
  if (!client.sendGet(client.path(), nullptr)) return 1;
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  static char buf[16384];
  long long total = 0;
  for (int n; (n = client.read(buf, sizeof buf)) > 0; total += n)
    std::fwrite(buf, 1, static_cast<size_t>(n), out);
  std::fclose(out);
  client.close();
  std::printf("%lld\n", total);
  return client.statusCode() >= 200 && client.statusCode() < 300 ? 0 : 1;
}
