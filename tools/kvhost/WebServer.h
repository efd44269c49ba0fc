// kvhost serve: the pages and files of a site over HTTP/1.1 with
// keep-alive. Connections are served by a pool of threads; at most
// `workers` pages run at once, each with a database connection of its own
// taken from a pool.
#pragma once

#include <memory>

#include "HostEnvironment.h"
#include "Options.h"

class SiteServer;

class WebServer {
 public:
  // host must be prepared and outlive the server.
  WebServer(const KvHostOptions& options, const HostEnvironment& host);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // The port listened on (the one chosen when the options say 0); -1 when
  // the address cannot be bound.
  int Bind();
  // Serves until Stop; false when serving failed.
  bool Listen();
  void Stop();

 private:
  std::unique_ptr<SiteServer> m_site;
};

// Serves until SIGINT or SIGTERM; the exit status of kvhost.
int ServeSite(const KvHostOptions& options, const HostEnvironment& host);
