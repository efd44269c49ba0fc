// kvhost serve: the pages and files of a site over HTTP/1.1 with
// keep-alive. Each connection has a thread of its own (libmicrohttpd's
// thread per connection), which reads its requests, runs its pages and
// sends the answers; a slow or idle client holds that thread, never a page
// slot. A request waits for a slot only once it is whole, in arrival order:
// at most `workers` pages run at once, each with a database connection of
// its own taken from a pool.
#pragma once

#include <memory>

#include "Options.h"
#include "setup/HostEnvironment.h"

class SiteServer;

class WebServer {
 public:
  // host must be prepared and outlive the server.
  WebServer(const KvHostOptions& options, const HostEnvironment& host);
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Starts answering; the port listened on (the one chosen when the
  // options say 0), or -1 when the address cannot be bound.
  int Bind();
  // Serves until Stop; false when serving failed.
  bool Listen();
  void Stop();

 private:
  std::unique_ptr<SiteServer> m_site;
};

// Serves until SIGINT or SIGTERM; the exit status of kvhost.
int ServeSite(const KvHostOptions& options, const HostEnvironment& host);
