// A program that ends while its version check is stuck: it starts the check against a server
// that accepts connections and never answers, and ends after a delay the way formwell's
// start-up ends. It exits 0 when every thread of the check left the network layer in time,
// 3 when not; a crash or a sanitizer report gives anything else.
//   exit_probe PORT DELAY_MS INTERNAL_LIMIT_MS VIA_PROXY(0|1)
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "proxy_settings.h"
#include "version_check.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  std::string server = "127.0.0.1:" + std::string(argv[1]);
  // Through a "proxy" that is the same silent server, or straight to it over TLS.
  formwell::proxyMode = argv[4][0] == '1' ? 3 : 1;
  formwell::proxyAddress = "http://" + server;
  formwell::proxyUser = "formwell";
  formwell::proxyPassword = "s3cret";
  formwell::UpdateServers servers = formwell::UpdateServers::defaults();
  servers.internalUrl = "https://" + server + "/table/";
  servers.publicUrl = "https://" + server + "/ccs/table/";
  servers.internalLimitMs = static_cast<uint32_t>(std::atoi(argv[3]));
  formwell::startVersionCheck(&servers);
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
  return formwell::endNetworkActivity() ? 0 : 3;
}
