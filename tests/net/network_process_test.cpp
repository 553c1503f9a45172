// The network layer seen from outside the process: a program that ends while a fetch is stuck
// inside the library, descriptors that a child process could inherit, and the connect time-out.
// Each test brings its own silent server on a free loopback port, so none needs the fixture.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/internet.h"
#include "platform/process_launcher.h"
#include "test_util.h"

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;

// A listening socket on 127.0.0.1 at a free port. With accepting on, every connection is taken
// and held without a word; with it off, the kernel's queue fills and further SYNs are dropped.
class SilentServer {
public:
  explicit SilentServer(bool accepting, int backlog = 64) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    if (accepting) thread_ = std::thread([this] { acceptAll(); });
  }
  ~SilentServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    for (int c : held_)
      ::close(c);
    ::close(fd_);
  }
  int port() const { return port_; }
  int accepted() const { return accepted_.load(); }

private:
  void acceptAll() {
    while (!stop_) {
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) break;
      held_.push_back(c);
      ++accepted_;
    }
  }
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<int> held_;
  std::thread thread_;
};

// Runs a program; its exit code, -2 for a hang (killed after limitMs), -1 for a signal.
int runWithin(const std::string& program, const std::vector<std::string>& args, int limitMs) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -3;
  auto deadline = clock_type::now() + std::chrono::milliseconds(limitMs);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (clock_type::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string probePath() {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  return path.substr(0, path.rfind('/') + 1) + "exit_probe";
}

// A program that ends 300 ms into a check that is stuck in a TLS handshake (or in a proxy's
// CONNECT) must end cleanly every time: no crash, no sanitizer report, no hang.
TEST(NetworkProcess, AProgramEndsCleanlyWhileItsFetchIsStuck) {
  SilentServer server(true);
  ASSERT_NE(server.port(), 0);
  const char* internalLimits[] = {"2000", "250", "290"}; // the public fetch starting around the end too
  int failures = 0;
  for (int run = 0; run < 50; ++run) {
    std::vector<std::string> args{std::to_string(server.port()), "300", internalLimits[run % 3], run % 2 ? "1" : "0"};
    auto start = clock_type::now();
    int code = runWithin(probePath(), args, 10000);
    double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
    if (code != 0 && ++failures <= 5)
      ADD_FAILURE() << "run " << run << " (limit " << args[2] << " ms, proxy " << args[3] << ") ended with " << code;
    EXPECT_LT(seconds, 3.0) << "run " << run;
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(server.accepted(), 0); // the fetches did reach the server
}

bool closedOnExec(int fd) {
  int flags = ::fcntl(fd, F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC);
}

// The descriptors of a process, each with what it points at.
std::vector<std::pair<int, std::string>> descriptors(const std::string& pid) {
  std::vector<std::pair<int, std::string>> out;
  std::string dir = "/proc/" + pid + "/fd";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    char target[256] = {};
    ssize_t n = ::readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
    out.emplace_back(std::atoi(e->d_name), n > 0 ? std::string(target, static_cast<size_t>(n)) : "");
  }
  ::closedir(d);
  return out;
}

// Our children, by process id.
std::vector<std::string> children() {
  std::vector<std::string> out;
  DIR* d = ::opendir("/proc");
  while (dirent* e = d ? ::readdir(d) : nullptr) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    FILE* f = std::fopen(("/proc/" + std::string(e->d_name) + "/stat").c_str(), "r");
    if (!f) continue;
    char line[512] = {};
    size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    const char* after = std::strrchr(line, ')'); // the name may hold anything
    int ppid = 0;
    char state;
    if (n && after && std::sscanf(after + 1, " %c %d", &state, &ppid) == 2 && ppid == ::getpid())
      out.emplace_back(e->d_name);
  }
  if (d) ::closedir(d);
  return out;
}

// While a transfer is stuck on a connection: every descriptor of the process is closed on exec,
// and the self-replacement shell holds only its three standard ones and its pipe.
TEST(NetworkProcess, AChildInheritsNoConnection) {
  SilentServer server(true);
  ASSERT_NE(server.port(), 0);
  platform::Internet& net = platform::systemInternet();
  std::atomic<bool> sent{true};
  std::thread fetch([&] {
    platform::InetHandleOwner session(net), connection(net), request(net);
    session.reset(net.open("probe", platform::InetAccess::Direct, nullptr));
    uint32_t silence = 2000;
    net.setOption(session.get(), platform::kInetOptionReceiveTimeout, &silence, sizeof silence);
    connection.reset(net.connect(session.get(), "127.0.0.1", static_cast<uint16_t>(server.port()), nullptr, nullptr,
                                 platform::InetService::Http, 0));
    request.reset(net.openRequest(connection.get(), "GET", "/", "HTTP/1.0", nullptr, nullptr, 0));
    sent = net.send(request.get());
  });
  for (int i = 0; i < 200 && server.accepted() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GT(server.accepted(), 0);

  int sockets = 0;
  for (const auto& fd : descriptors("self")) {
    if (fd.first <= 2 || fd.second.compare(0, 7, "socket:") != 0) continue;
    ++sockets;
    EXPECT_TRUE(closedOnExec(fd.first)) << fd.first << " " << fd.second;
  }
  EXPECT_GT(sockets, 1); // the server's and the transfer's at least

  testutil::TempDir dir;
  std::vector<std::string> before = children();
  ASSERT_TRUE(platform::systemProcessLauncher().replaceFileAfterExit((dir.path() / "new").string(),
                                                                     (dir.path() / "old").string()));
  std::string shell;
  for (const std::string& pid : children())
    if (std::find(before.begin(), before.end(), pid) == before.end()) shell = pid;
  ASSERT_FALSE(shell.empty());
  // /dev/null and its pipe (the shell copies them about for its own redirections), nothing else.
  for (const auto& fd : descriptors(shell))
    EXPECT_TRUE(fd.second == "/dev/null" || fd.second.compare(0, 5, "pipe:") == 0)
        << "the shell holds " << fd.second << " as " << fd.first;

  fetch.join();
  EXPECT_FALSE(sent); // ended by the receive time-out
}

// A connection whose SYNs are dropped waits for the connect time-out, not the receive one.
TEST(NetworkProcess, TheConnectTimeOutAppliesWhileConnecting) {
  SilentServer server(false, 0);
  ASSERT_NE(server.port(), 0);
  // Fill the queue: the kernel drops every later SYN.
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(server.port()));
    ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(s);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  platform::Internet& net = platform::systemInternet();
  platform::InetHandleOwner session(net), connection(net), request(net);
  session.reset(net.open("probe", platform::InetAccess::Direct, nullptr));
  uint32_t connectMs = 1500, silenceMs = 400;
  ASSERT_TRUE(net.setOption(session.get(), platform::kInetOptionConnectTimeout, &connectMs, sizeof connectMs));
  ASSERT_TRUE(net.setOption(session.get(), platform::kInetOptionReceiveTimeout, &silenceMs, sizeof silenceMs));
  connection.reset(net.connect(session.get(), "127.0.0.1", static_cast<uint16_t>(server.port()), nullptr, nullptr,
                               platform::InetService::Http, 0));
  request.reset(net.openRequest(connection.get(), "GET", "/", "HTTP/1.0", nullptr, nullptr, 0));
  auto start = clock_type::now();
  EXPECT_FALSE(net.send(request.get()));
  double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
  EXPECT_GE(seconds, 1.4);
  EXPECT_LT(seconds, 3.0);
  for (int s : fillers)
    ::close(s);
}

} // namespace
