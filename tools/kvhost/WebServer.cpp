#include "WebServer.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <semaphore>
#include <thread>

#include <httplib.h>

#include "AccessLog.h"
#include "ConnectionPool.h"
#include "FileText.h"
#include "HttpPageRequest.h"
#include "PageExecutor.h"
#include "ServerUtilities.h"
#include "SiteFiles.h"
#include "WebSessions.h"
#include "platform/kvdbal/KvDbal.h"

namespace {

constexpr size_t kBodyLimit = 10 * 1024 * 1024;
constexpr time_t kReadTimeoutSeconds = 10;
constexpr time_t kWriteTimeoutSeconds = 10;
constexpr size_t kKeepAliveRequests = 1000;

// SQLite writers of other workers and processes wait for the lock this
// long before a save sees a collision (and retries).
std::string WithBusyTimeout(const std::string& url) {
  if (url.rfind("sqlite:", 0) != 0 || url.find("busytimeout=") != std::string::npos) return url;
  return url + (url.find('?') == std::string::npos ? "?" : "&") + "busytimeout=10000";
}

std::string WithCharset(const std::string& type) {
  if (type.rfind("text/", 0) != 0 || type.find("charset") != std::string::npos) return type;
  return type + "; charset=utf-8";
}

void Answer(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content("<!DOCTYPE html>\n<html><head><title>" + std::to_string(status) + "</title></head><body><h1>" +
                      std::to_string(status) + "</h1><pre>" + HtmlEncode(message) + "</pre></body></html>\n",
                  "text/html; charset=utf-8");
}

}  // namespace

class SiteServer {
 public:
  SiteServer(const KvHostOptions& options, const HostEnvironment& host)
      : m_options(options.serveOptions),
        m_files(options.serveOptions.root),
        m_pages(m_files.Root()),
        m_pool(WithBusyTimeout(host.SessionConfig().connectionString)),
        m_sessions([config = host.SessionConfig()]() mutable {
          // Web sessions open no connection of their own: each request
          // lends one from the pool.
          config.connectionString.clear();
          ComPtr<IDispatch> session;
          KvCreateHostSession(config, session.ReleaseAndGetAddressOf());
          return session;
        }),
        m_pageSlots(static_cast<std::ptrdiff_t>(Workers())) {}

  int Bind();
  bool Listen() { return m_http.listen_after_bind(); }
  void Stop() { m_http.stop(); }

 private:
  size_t Workers() const {
    return m_options.workers > 0 ? static_cast<size_t>(m_options.workers)
                                 : std::max(1u, std::thread::hardware_concurrency());
  }
  void Handle(const httplib::Request& req, httplib::Response& res);
  void SendFile(const SiteTarget& target, httplib::Response& res);
  void RunPage(const httplib::Request& req, httplib::Response& res, const SiteTarget& target);
  void Configure();

  KvServeOptions m_options;
  SiteFiles m_files;
  PageExecutor m_pages;
  ConnectionPool m_pool;
  WebSessions m_sessions;
  PageApplication m_application;
  std::counting_semaphore<> m_pageSlots;
  httplib::Server m_http;
};

void SiteServer::Handle(const httplib::Request& req, httplib::Response& res) {
  std::string rawPath = req.target.substr(0, req.target.find('?'));
  SiteTarget target = m_files.Resolve(rawPath, req.path);
  switch (target.kind) {
    case SiteTarget::NotFound: return Answer(res, 404, "Not Found");
    case SiteTarget::Forbidden: return Answer(res, 403, "Forbidden");
    case SiteTarget::AddSlash: {
      size_t question = req.target.find('?');
      res.set_redirect(target.virtualPath + (question == std::string::npos ? "" : req.target.substr(question)), 301);
      return;
    }
    case SiteTarget::Page: return RunPage(req, res, target);
    case SiteTarget::File:
      if (req.method != "GET" && req.method != "HEAD") return Answer(res, 405, "Method Not Allowed");
      return SendFile(target, res);
  }
}

void SiteServer::SendFile(const SiteTarget& target, httplib::Response& res) {
  std::string content;
  if (!ReadWholeFile(target.filePath, &content)) return Answer(res, 404, "Not Found");
  res.set_content(std::move(content), ContentTypeOf(target.virtualPath).c_str());
}

void SiteServer::RunPage(const httplib::Request& req, httplib::Response& res, const SiteTarget& target) {
  PageContext page;
  page.request = MakePageRequest(req, target.virtualPath);
  auto cookie = page.request.cookies.find(kSessionCookie);
  bool created = false;
  std::shared_ptr<WebSession> session =
      m_sessions.Find(cookie == page.request.cookies.end() ? "" : cookie->second, &created);
  page.session = &session->page;
  page.application = &m_application;
  page.rootDirectory = m_files.Root();
  page.scriptName = target.virtualPath;

  std::string error;
  bool ran = false;
  {
    std::lock_guard<std::mutex> running(session->running);
    m_pageSlots.acquire();
    try {
      page.deadline = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(m_options.scriptTimeoutSeconds));
      ConnectionLease lease(m_pool, session->page.host.Get());
      ran = m_pages.Execute(page, target.virtualPath, &error);
    } catch (const CKvDbException& e) {
      error = "cannot open the database: " + e.Message();
    } catch (const std::exception& e) {
      error = e.what();
    }
    m_pageSlots.release();
    m_sessions.Touch(*session);
  }
  const bool abandoned = session->page.abandoned;
  if (abandoned) m_sessions.Drop(session->page.id);

  if (!ran) {
    std::fprintf(stderr, "kvhost: %s\n", error.c_str());
    return Answer(res, 500, error);
  }
  const PageResponse& out = page.response;
  res.status = out.status;
  for (const auto& [name, value] : out.headers) res.headers.emplace(name, value);
  if (!res.has_header("Cache-Control")) res.set_header("Cache-Control", "no-store");
  for (const auto& [name, value] : out.cookies)
    res.headers.emplace("Set-Cookie", name + "=" + UrlEncode(value) + "; Path=/");
  if (created && !abandoned)
    res.headers.emplace("Set-Cookie", std::string(kSessionCookie) + "=" + session->page.id +
                                          "; Path=/; HttpOnly; SameSite=Lax");
  res.set_content(out.body, WithCharset(out.contentType).c_str());
}

void SiteServer::Configure() {
  // Threads for connections (a keep-alive connection holds one while it is
  // open); page runs are limited to the workers apart from them.
  const size_t connectionThreads = std::max<size_t>(64, Workers() * 8);
  m_http.new_task_queue = [connectionThreads] { return new httplib::ThreadPool(connectionThreads); };
  m_http.set_payload_max_length(kBodyLimit);
  m_http.set_read_timeout(kReadTimeoutSeconds);
  m_http.set_write_timeout(kWriteTimeoutSeconds);
  m_http.set_keep_alive_max_count(kKeepAliveRequests);
  // Small responses go out at once instead of waiting for the client's
  // delayed acknowledgement.
  m_http.set_tcp_nodelay(true);
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    try {
      Handle(req, res);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kvhost: %s %s: %s\n", req.method.c_str(), req.path.c_str(), e.what());
      Answer(res, 500, "Internal Server Error");
    }
  };
  m_http.Get(".*", handler);
  m_http.Post(".*", handler);
  m_http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    Answer(res, 500, "Internal Server Error");
  });
  if (m_options.accessLog) m_http.set_logger([](const httplib::Request& req, const httplib::Response& res) {
    std::string line = AccessLogLine(req.remote_addr, req.method, req.target, req.version, res.status,
                                     res.body.size(), std::time(nullptr)) + "\n";
    std::fputs(line.c_str(), stderr);
  });
}

int SiteServer::Bind() {
  Configure();
  if (m_options.port == 0) {
    int port = m_http.bind_to_any_port(m_options.bind);
    return port > 0 ? port : -1;
  }
  return m_http.bind_to_port(m_options.bind, m_options.port) ? m_options.port : -1;
}

WebServer::WebServer(const KvHostOptions& options, const HostEnvironment& host)
    : m_site(std::make_unique<SiteServer>(options, host)) {}
WebServer::~WebServer() = default;
int WebServer::Bind() { return m_site->Bind(); }
bool WebServer::Listen() { return m_site->Listen(); }
void WebServer::Stop() { m_site->Stop(); }

int ServeSite(const KvHostOptions& options, const HostEnvironment& host) {
  signal(SIGPIPE, SIG_IGN);
  WebServer server(options, host);
  const KvServeOptions& serve = options.serveOptions;
  int port = server.Bind();
  if (port < 0) {
    std::fprintf(stderr, "kvhost: cannot listen on %s port %d\n", serve.bind.c_str(), serve.port);
    return kExitScriptError;
  }
  const bool v6 = serve.bind.find(':') != std::string::npos;
  std::printf("kvhost: serving %s at http://%s%s%s:%d/\n", serve.root.c_str(), v6 ? "[" : "", serve.bind.c_str(),
              v6 ? "]" : "", port);
  std::fflush(stdout);

  // SIGINT and SIGTERM stop the server; they are taken by one thread only.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::thread watcher([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  });
  const bool listened = server.Listen();
  pthread_kill(watcher.native_handle(), SIGUSR1);
  watcher.join();
  return listened ? kExitPageRan : kExitScriptError;
}
