// What 200 slow clients cost everybody else: each holds a connection open
// in the middle of its request head, from an address of its own, while a
// normal client asks for a page that reads a record, each request on a new
// connection. The line is the slowest of those requests in seconds against
// the second they may take at most.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "BenchUtil.h"
#include "http/WebServer.h"
#include "platform/com/Registry.h"
#include "setup/HostEnvironment.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSlowClients = 200;
constexpr int kRequests = 20;

const char* const kPage = R"(<% var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
   pump.Init(Session, 100);
   pump.MoveTo(1); %><%= pump.ValueByFieldName("strno", "") %>)";

int Fail(const std::string& message) {
  std::fprintf(stderr, "bench_serve_slow_clients: %s\n", message.c_str());
  return 1;
}

// A connection from 127.0.x.y that has sent half a head; -1 when refused.
int SlowConnection(int index, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{}, to{};
  from.sin_family = to.sin_family = AF_INET;
  const std::string source = "127.0." + std::to_string(1 + index / 250) + "." + std::to_string(2 + index % 250);
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  to.sin_port = htons(static_cast<uint16_t>(port));
  const std::string half = "GET /read.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
  if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 ||
      send(fd, half.data(), half.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(half.size())) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int main() {
  std::string dir = fs::temp_directory_path() / ("kv-bench-slow-" + std::to_string(getpid()));
  fs::create_directories(dir + "/site");
  std::ofstream(dir + "/site/read.asp") << kPage;
  setenv("KVHOST_DATA_DIR", (dir + "/data").c_str(), 1);
  KvRegistryUseFile(dir + "/registry");

  KvHostOptions options;
  options.serve = true;
  options.serveOptions.root = dir + "/site";
  options.serveOptions.port = 0;
  options.serveOptions.workers = 2;
  options.serveOptions.accessLog = false;
  int status = 0;
  {
    HostEnvironment host;
    std::string error;
    if (!host.Prepare(options, {}, &error)) return Fail(error);
    WebServer server(options, host);
    const int port = server.Bind();
    if (port < 0) return Fail("cannot listen");
    std::thread serving([&server] { server.Listen(); });

    std::vector<int> slow;
    for (int i = 0; i < kSlowClients; ++i) slow.push_back(SlowConnection(i, port));
    double slowest = 0;
    for (int i = 0; i < kRequests && status == 0; ++i) {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(30, 0);
      std::string body;
      const double seconds = bench::WallSeconds([&] {
        auto result = client.Get("/read.asp");
        if (result && result->status == 200) body = result->body;
      });
      if (body != "A1") status = Fail("the page did not answer A1: " + body);
      if (seconds > slowest) slowest = seconds;
    }
    int refused = 0;
    for (int fd : slow) {
      if (fd < 0) ++refused;
      else close(fd);
    }
    if (refused) status = Fail(std::to_string(refused) + " slow clients could not connect");
    if (status == 0) bench::PrintRatio("serve_slow_clients_worst_seconds", slowest, 1.0);
    server.Stop();
    serving.join();
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
