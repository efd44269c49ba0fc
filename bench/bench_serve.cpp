// The cost of serving a page over HTTP: a page that reads five fields of one
// record, requested over one keep-alive connection from the in-process
// server, against the same page translated and run in a loop in the same
// process without HTTP, sessions or the server's bookkeeping.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <httplib.h>

#include "BenchUtil.h"
#include "ConnectionPool.h"
#include "HostEnvironment.h"
#include "PageExecutor.h"
#include "WebServer.h"
#include "platform/host/HostSession.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRequests = 300;

const char* const kPage = R"(<%@ Language="JScript" %>
<% var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
   pump.Init(Session, 100);
   pump.MoveTo(1); %>
<p><%= pump.ValueByFieldName("strno", "") %> <%= pump.ValueByFieldName("strcolor", "") %>
<%= pump.ValueByFieldName("strstate", "") %> <%= pump.ValueByFieldName("lamount", 0) %>
<%= pump.ValueByFieldName("dblprice", 0) %></p>
)";

int Fail(const std::string& message) {
  std::fprintf(stderr, "bench_serve: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main() {
  std::string dir = fs::temp_directory_path() / ("kv-bench-serve-" + std::to_string(getpid()));
  fs::create_directories(dir + "/site");
  std::ofstream(dir + "/site/read.asp") << kPage;
  setenv("KVHOST_DATA_DIR", (dir + "/data").c_str(), 1);
  setenv("KVCOM_REGISTRY", (dir + "/registry").c_str(), 1);

  KvHostOptions options;
  options.serve = true;
  options.serveOptions.root = dir + "/site";
  options.serveOptions.port = 0;
  options.serveOptions.workers = 1;
  options.serveOptions.accessLog = false;
  int status = 0;
  {
    HostEnvironment host;
    std::string error;
    if (!host.Prepare(options, {}, &error)) return Fail(error);
    WebServer server(options, host);
    int port = server.Bind();
    if (port < 0) return Fail("cannot listen");
    std::thread serving([&server] { server.Listen(); });

    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    std::string servedBody;
    auto served = [&] {
      for (int i = 0; i < kRequests; ++i) {
        auto result = client.Get("/read.asp");
        if (!result || result->status != 200) std::abort();
        servedBody = result->body;
      }
    };

    // The same page in-process: translated and run with a pooled connection
    // lent to a host session, as the server does, for each run.
    PageExecutor executor(fs::canonical(options.serveOptions.root).string());
    KvHostSessionConfig config = host.SessionConfig();
    ConnectionPool pool(config.connectionString);
    config.connectionString.clear();
    PageApplication application;
    PageSession session;
    KvCreateHostSession(config, session.host.ReleaseAndGetAddressOf());
    std::string runBody;
    auto inProcess = [&] {
      for (int i = 0; i < kRequests; ++i) {
        std::string failure;
        PageContext page;
        page.session = &session;
        page.application = &application;
        ConnectionLease lease(pool, session.host.Get());
        if (!executor.Execute(page, "/read.asp", &failure)) std::abort();
        runBody = page.response.body;
      }
    };

    double bestServed = 0, bestInProcess = 0;
    for (int round = 0; round < 5; ++round) {
      double s = bench::WallSeconds(served), r = bench::WallSeconds(inProcess);
      if (round == 0 || s < bestServed) bestServed = s;
      if (round == 0 || r < bestInProcess) bestInProcess = r;
    }
    if (servedBody != runBody || servedBody.find("A1") == std::string::npos) {
      status = Fail("the served page and the in-process run differ: " + servedBody + " / " + runBody);
    } else {
      bench::PrintRatio("serve_read_page", bestServed / bestInProcess, 2.0);
    }
    server.Stop();
    serving.join();
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
