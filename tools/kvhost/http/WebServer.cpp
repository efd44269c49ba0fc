// The server's side of libmicrohttpd, which gives every connection a thread
// of its own: its callbacks gather each request (OnUri, Receive, Finish),
// answer a site file at once, or run a page on the connection's thread once
// the session's turn and a page slot have come (StartPage), and queue what
// comes back (Answer). ServeSite runs it for `kvhost serve` until a stop
// signal, then lets the pages in hand end.
#include "http/WebServer.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>

#include <microhttpd.h>

#include "base/FairSlots.h"
#include "base/KernelRandom.h"
#include "engine/PageExecutor.h"
#include "http/AccessLog.h"
#include "http/ConnectionDeadlines.h"
#include "http/CrossSite.h"
#include "http/HttpPageRequest.h"
#include "http/MhdResponses.h"
#include "http/SiteFiles.h"
#include "page/FormCoding.h"
#include "platform/com/AsciiCase.h"
#include "platform/kvdbal/KvDbal.h"
#include "state/ConnectionPool.h"
#include "state/ServerState.h"

namespace {

// A head is bounded twice: the library refuses one that does not fit the
// connection's memory, and beyond that the server counts fields and bytes.
constexpr size_t kConnectionMemory = 64 * 1024;
constexpr size_t kMaxHeaderFields = 100;
constexpr size_t kMaxHeadBytes = 16 * 1024;
// Every connection holds a thread; one beyond this many is closed at once.
constexpr unsigned kMaxConnections = 1000;
// Sending an answer to a client that reads nothing ends after this long.
constexpr unsigned kInactivitySeconds = 30;

// Where a balancer polls whether the server takes requests.
constexpr const char* kHealthPath = "/.kvhost/health";

constexpr const char* kPageMethods = "GET, HEAD, POST, PUT, PATCH, DELETE";
constexpr const char* kFileMethods = "GET, HEAD";

std::string WithCharset(const std::string& type) {
  if (type.rfind("text/", 0) != 0 || type.find("charset") != std::string::npos) return type;
  return type + "; charset=utf-8";
}

std::string SessionCookie(const std::string& id) {
  return std::string(kSessionCookie) + "=" + id + "; Path=/; HttpOnly; SameSite=Lax";
}

std::string SizeText(uint64_t bytes) {
  constexpr uint64_t kKiB = 1024, kMiB = 1024 * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KB";
  return std::to_string(bytes) + " bytes";
}

bool OneOf(std::string_view method, std::string_view list) {
  size_t start = 0;
  while (start < list.size()) {
    size_t comma = list.find(", ", start);
    if (comma == std::string_view::npos) comma = list.size();
    if (list.substr(start, comma - start) == method) return true;
    start = comma + 2;
  }
  return false;
}

std::chrono::steady_clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

MHD_Result CollectHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
  static_cast<NameValues*>(cls)->emplace_back(key ? key : "", value ? value : "");
  return MHD_YES;
}

std::string AddressText(const sockaddr* address, int* port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (!address) return "";
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    *port = ntohs(v4->sin_port);
  } else if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    *port = ntohs(v6->sin6_port);
  }
  return text;
}

}  // namespace

// What the server knows of one request while it is read, run and answered.
struct RequestState {
  HttpRequest request;
  SiteTarget target;
  bool started = false;
  bool finished = false;
  bool tooLarge = false;
  // The page slot of a small answer, held until the answer is out.
  std::optional<FairSlot> slot;
  // For the access log.
  unsigned status = 0;
  size_t bytes = 0;
};

class SiteServer {
 public:
  SiteServer(const KvHostOptions& options, const HostEnvironment& host)
      : m_options(options.serveOptions),
        m_files(options.serveOptions.root),
        m_pages(m_files.Root()),
        m_pool(host.SessionConfig().connectionString),
        m_state(OpenServerState(StateSettings(options, host))),
        m_deadlines(Seconds(options.serveOptions.headTimeoutSeconds), Seconds(options.serveOptions.bodyTimeoutSeconds)),
        m_slots(PageSlots()) {
    // One engine for each page that may run at once, and one to stand in
    // for an engine that is being tidied.
    m_pages.PrepareEngines(PageSlots() + 1);
  }
  ~SiteServer() { Shutdown(); }

  int Bind();
  bool Listen();
  void Stop();

 private:
  static ServerStateSettings StateSettings(const KvHostOptions& options, const HostEnvironment& host) {
    ServerStateSettings settings;
    settings.url = options.serveOptions.stateUrl;
    settings.makeHost = [config = host.SessionConfig()]() mutable {
      // Web sessions open no connection of their own: each request lends
      // one from the pool.
      config.connectionString.clear();
      ComPtr<IDispatch> session;
      KvCreateHostSession(config, session.ReleaseAndGetAddressOf());
      return session;
    };
    settings.developmentUser = host.SessionConfig().userId;
    settings.maxSessions = static_cast<size_t>(options.serveOptions.maxSessions);
    settings.scriptTimeoutSeconds = options.serveOptions.scriptTimeoutSeconds;
    return settings;
  }
  // Pages that may run at once: one a core and one more, so that a core
  // has a page to run while the thread of the next one comes up.
  size_t PageSlots() const {
    return m_options.workers > 0 ? static_cast<size_t>(m_options.workers)
                                 : static_cast<size_t>(std::max(1u, std::thread::hardware_concurrency())) + 1;
  }

  // The library's callbacks; cls is the server.
  static void* OnUri(void* cls, const char* uri, MHD_Connection* connection);
  static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                              const char* version, const char* uploadData, size_t* uploadSize, void** context);
  static void OnCompleted(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode);
  static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                           MHD_ConnectionNotificationCode code);

  MHD_Result Begin(MHD_Connection* connection, RequestState& state, const char* method, const char* version);
  void Receive(RequestState& state, const char* data, size_t size);
  MHD_Result Finish(MHD_Connection* connection, RequestState& state);
  MHD_Result StartPage(MHD_Connection* connection, RequestState& state);
  // Whether the answer will leave at once when it is sent.
  static bool GoesOutAtOnce(MHD_Connection* connection, const HttpAnswer& answer);
  HttpAnswer RunPage(RequestState& state, PageRequest request, const std::shared_ptr<WebSession>& session,
                     bool made);
  // Translates and runs the page; false with *error when it failed.
  bool ExecutePage(PageContext& page, const SiteTarget& target, std::string* error);
  HttpAnswer ErrorAnswer(const std::string& error);
  HttpAnswer ForgedAnswer();
  HttpAnswer SessionsFullAnswer();
  MHD_Result Answer(MHD_Connection* connection, RequestState& state, HttpAnswer answer);
  MHD_Result Queue(MHD_Connection* connection, RequestState& state, unsigned status, MHD_Response* response,
                   size_t bytes);
  void Drain();
  void Shutdown();

  // Counts a page request from the moment it waits for its turn until its
  // answer is made.
  class PageInHand {
   public:
    explicit PageInHand(SiteServer& server) : m_server(server) { ++m_server.m_pagesInHand; }
    ~PageInHand() {
      std::lock_guard<std::mutex> lock(m_server.m_handMutex);
      if (--m_server.m_pagesInHand == 0) m_server.m_handEmpty.notify_all();
    }
    PageInHand(const PageInHand&) = delete;
    PageInHand& operator=(const PageInHand&) = delete;

   private:
    SiteServer& m_server;
  };

  KvServeOptions m_options;
  SiteFiles m_files;
  PageExecutor m_pages;
  ConnectionPool m_pool;
  ServerState m_state;
  ConnectionDeadlines m_deadlines;
  FairSlots m_slots;
  MHD_Daemon* m_daemon = nullptr;
  // Written once the daemon runs, read by its requests.
  std::atomic<int> m_port{0};
  std::atomic<bool> m_closing{false};
  // Set once a stop was asked for: the health address answers 503 and
  // every answer closes its connection, so a balancer moves on while the
  // pages in hand finish. m_pagesInHand counts those waiting or running.
  std::atomic<bool> m_draining{false};
  std::atomic<int> m_pagesInHand{0};
  std::mutex m_handMutex;
  std::condition_variable m_handEmpty;
  std::mutex m_stopMutex;
  std::condition_variable m_stopWake;
  bool m_stopRequested = false;
};

void* SiteServer::OnUri(void*, const char* uri, MHD_Connection*) {
  auto* state = new RequestState;
  state->request.target = uri ? uri : "";
  return state;
}

MHD_Result SiteServer::OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                 const char* version, const char* uploadData, size_t* uploadSize, void** context) {
  auto& server = *static_cast<SiteServer*>(cls);
  auto* state = static_cast<RequestState*>(*context);
  if (!state) {
    *context = state = new RequestState;
    state->request.target = url;
  }
  try {
    if (!state->started) {
      state->started = true;
      return server.Begin(connection, *state, method, version);
    }
    if (*uploadSize) {
      server.Receive(*state, uploadData, *uploadSize);
      *uploadSize = 0;
      return MHD_YES;
    }
    if (state->finished) return MHD_NO;  // an answer could not be queued
    state->finished = true;
    return server.Finish(connection, *state);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kvhost: %s %s: %s\n", method, state->request.target.c_str(), e.what());
    return MHD_NO;
  } catch (const CException& e) {
    // A session store's failure, say: nothing may unwind into the
    // library's C code, so the connection closes.
    std::fprintf(stderr, "kvhost: %s %s: %s\n", method, state->request.target.c_str(), e.Message().c_str());
    return MHD_NO;
  } catch (...) {
    std::fprintf(stderr, "kvhost: %s %s: an exception of unknown type\n", method, state->request.target.c_str());
    return MHD_NO;
  }
}

void SiteServer::OnCompleted(void* cls, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
  auto& server = *static_cast<SiteServer*>(cls);
  auto* state = static_cast<RequestState*>(*context);
  *context = nullptr;
  server.m_deadlines.HeadStarts(connection);
  if (!state) return;
  if (server.m_options.accessLog && state->status) {
    const HttpRequest& r = state->request;
    std::string line = AccessLogLine(r.remoteAddr, r.method, r.target, r.version, static_cast<int>(state->status),
                                     state->bytes, std::time(nullptr)) + "\n";
    std::fputs(line.c_str(), stderr);
  }
  delete state;
}

void SiteServer::OnConnection(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
  auto& server = *static_cast<SiteServer*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info) server.m_deadlines.Opened(connection, info->connect_fd);
  } else {
    server.m_deadlines.Closed(connection);
  }
}

MHD_Result SiteServer::Begin(MHD_Connection* connection, RequestState& state, const char* method,
                             const char* version) {
  HttpRequest& r = state.request;
  r.method = method;
  r.version = version;
  MHD_get_connection_values(connection, MHD_HEADER_KIND, CollectHeader, &r.headers);
  if (const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
    r.remoteAddr = AddressText(info->client_addr, &r.remotePort);
  r.serverAddr = m_options.bind;
  r.serverPort = m_port;
  m_deadlines.BodyStarts(connection);

  size_t headBytes = r.target.size();
  for (const auto& [name, value] : r.headers) headBytes += name.size() + value.size() + 4;
  if (r.headers.size() > kMaxHeaderFields || headBytes > kMaxHeadBytes)
    return Answer(connection, state,
                  AnswerPage(MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE,
                             "The request head is too large: this server takes at most " +
                                 std::to_string(kMaxHeaderFields) + " header fields and " + SizeText(kMaxHeadBytes) +
                                 "; this one has " + std::to_string(r.headers.size()) + " fields and " +
                                 SizeText(headBytes) + "."));
  if (!OneOf(r.method, kPageMethods)) {
    HttpAnswer answer = AnswerPage(MHD_HTTP_METHOD_NOT_ALLOWED, "This server does not answer the method " +
                                                                    r.method + ".");
    answer.headers.emplace_back("Allow", kPageMethods);
    return Answer(connection, state, std::move(answer));
  }
  const std::string rawPath = r.target.substr(0, r.target.find('?'));
  if (!UrlDecode(rawPath, false, &r.path))
    return Answer(connection, state, AnswerPage(MHD_HTTP_BAD_REQUEST, "The address has a broken %-escape."));
  state.target = m_files.Resolve(rawPath, r.path);
  if (state.target.kind == SiteTarget::File && !OneOf(r.method, kFileMethods)) {
    HttpAnswer answer = AnswerPage(MHD_HTTP_METHOD_NOT_ALLOWED, "A file of this site can only be read.");
    answer.headers.emplace_back("Allow", kFileMethods);
    return Answer(connection, state, std::move(answer));
  }
  if (IsUnsafeMethod(r.method) && ComesFromAnotherSite(r))
    return Answer(connection, state,
                  AnswerPage(MHD_HTTP_FORBIDDEN, "This request came from another site; it was not carried out."));
  const std::string length = r.Header("Content-Length");
  if (!length.empty() && std::strtoull(length.c_str(), nullptr, 10) > m_options.bodyLimit) {
    state.tooLarge = true;
    return Answer(connection, state,
                  AnswerPage(MHD_HTTP_CONTENT_TOO_LARGE, "The request body (" + SizeText(std::stoull(length)) +
                                                             ") is larger than this server accepts: at most " +
                                                             SizeText(m_options.bodyLimit) + "."));
  }
  return MHD_YES;
}

void SiteServer::Receive(RequestState& state, const char* data, size_t size) {
  std::string& body = state.request.body;
  if (state.tooLarge) return;
  if (body.size() + size > m_options.bodyLimit) {
    // A body without a length (chunked) is read to its end within its
    // deadline, and refused then, so the client gets the answer.
    state.tooLarge = true;
    std::string().swap(body);
    return;
  }
  body.append(data, size);
}

MHD_Result SiteServer::Finish(MHD_Connection* connection, RequestState& state) {
  // Running the page and sending its answer have no deadline here.
  m_deadlines.RequestComplete(connection);
  if (state.tooLarge)
    return Answer(connection, state,
                  AnswerPage(MHD_HTTP_CONTENT_TOO_LARGE,
                             "The request body is larger than this server accepts: at most " +
                                 SizeText(m_options.bodyLimit) + "."));
  if (state.request.path == kHealthPath) {
    // For a balancer's checks: served while the server takes requests.
    HttpAnswer answer = m_draining ? AnswerPage(MHD_HTTP_SERVICE_UNAVAILABLE, "draining")
                                   : AnswerPage(MHD_HTTP_OK, "accepting");
    answer.headers.emplace_back("Cache-Control", "no-store");
    return Answer(connection, state, std::move(answer));
  }
  const SiteTarget& target = state.target;
  switch (target.kind) {
    case SiteTarget::NotFound:
      return Answer(connection, state, AnswerPage(MHD_HTTP_NOT_FOUND, "There is nothing at this address."));
    case SiteTarget::Forbidden:
      return Answer(connection, state, AnswerPage(MHD_HTTP_FORBIDDEN, "This address is not served."));
    case SiteTarget::AddSlash: {
      const std::string query = state.request.Query();
      HttpAnswer answer = AnswerPage(MHD_HTTP_MOVED_PERMANENTLY, "The directory's address ends in /.");
      answer.headers.emplace_back("Location", target.virtualPath + (query.empty() ? "" : "?" + query));
      return Answer(connection, state, std::move(answer));
    }
    case SiteTarget::File: {
      unsigned status = 0;
      uint64_t bytes = 0;
      MHD_Response* response = FileResponse(target.filePath, ContentTypeOf(target.virtualPath),
                                            state.request.Header("Range"), &status, &bytes);
      if (!response)
        return Answer(connection, state, AnswerPage(MHD_HTTP_NOT_FOUND, "There is nothing at this address."));
      return Queue(connection, state, status, response, bytes);
    }
    case SiteTarget::Page: return StartPage(connection, state);
  }
  return MHD_NO;
}

MHD_Result SiteServer::StartPage(MHD_Connection* connection, RequestState& state) {
  HttpRequest& r = state.request;
  if (m_closing) return Answer(connection, state, AnswerPage(MHD_HTTP_SERVICE_UNAVAILABLE, "The server is stopping."));
  if (LowerAscii(r.Header("Content-Type")).rfind("multipart/form-data", 0) == 0) {
    r.multipart = true;
    if (!ReadMultipartFields(connection, r.body, &r.multipartFields))
      return Answer(connection, state, AnswerPage(MHD_HTTP_BAD_REQUEST, "The form's data cannot be read."));
  }
  PageRequest page = MakePageRequest(r, state.target.virtualPath);
  auto cookie = page.cookies.find(kSessionCookie);
  std::shared_ptr<WebSession> session =
      m_state.sessions->Open(cookie == page.cookies.end() ? "" : cookie->second);
  // An unsafe request needs a session whose token it carries; without one
  // it is refused here, with one the token is checked once the session
  // is read.
  if (IsUnsafeMethod(r.method) && !session) return Answer(connection, state, ForgedAnswer());
  const bool made = !session;
  if (made) {
    session = m_state.sessions->Make();
    if (!session) return Answer(connection, state, SessionsFullAnswer());
  }
  HttpAnswer answer;
  {
    PageInHand inHand(*this);
    // The session's requests one after another, and at most so many pages
    // at once: each waits its turn in arrival order, the session's first,
    // so that a request waiting for its session holds no page slot.
    FairSlot turn(session->turn);
    state.slot.emplace(m_slots);
    answer = state.slot->Held() ? RunPage(state, std::move(page), session, made)
                                : AnswerPage(MHD_HTTP_SERVICE_UNAVAILABLE, "The server is stopping.");
    if (!GoesOutAtOnce(connection, answer)) state.slot.reset();
  }
  return Answer(connection, state, std::move(answer));
}

bool SiteServer::GoesOutAtOnce(MHD_Connection* connection, const HttpAnswer& answer) {
  // A small answer on a connection whose earlier answers have all left
  // fits the socket's send buffer whatever the client does, so it is out
  // as soon as this thread sends it; the page slot is then given back
  // when the thread is about to wait for its client anyway, and the next
  // page's thread gets the core at once instead of sharing it with this
  // one. Pages then keep close to arrival order: under 8 clients on 2
  // cores p99 was 2.1 times p50, against 2.4-2.8 with the slot given back
  // before the answer went. Anything larger, or a client that does not
  // read, gives the slot back at once, so no client can hold it.
  constexpr size_t kSmallAnswer = 4096;
  if (answer.body.size() > kSmallAnswer) return false;
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  int unsent = 0;
  return info && ioctl(info->connect_fd, SIOCOUTQ, &unsent) == 0 && unsent == 0;
}

HttpAnswer SiteServer::RunPage(RequestState& state, PageRequest request, const std::shared_ptr<WebSession>& session,
                               bool made) {
  // The session's turn: a request of it on another process runs before
  // or after this one, never beside it; waiting for it may take as long
  // as that request's page may run.
  bool fresh = made;
  try {
    const SessionStart start = m_state.sessions->Begin(
        *session, made, &fresh, std::chrono::steady_clock::now() + Seconds(m_options.scriptTimeoutSeconds));
    if (start == SessionStart::Busy)
      return AnswerPage(MHD_HTTP_SERVICE_UNAVAILABLE,
                        "Another request of this session is still running; try again in a moment.");
    if (start == SessionStart::Full) return SessionsFullAnswer();
  } catch (const CException& e) {
    std::fprintf(stderr, "kvhost: the session store cannot be reached: %s\n", e.Message().c_str());
    return AnswerPage(MHD_HTTP_SERVICE_UNAVAILABLE, "The server cannot reach its sessions; try again in a moment.");
  }
  if (IsUnsafeMethod(state.request.method)) {
    // The token comes back in a form field or, from a page's own
    // scripts, in a header.
    std::string sent;
    if (!JoinedValues(request.form, kTokenField, &sent)) sent = state.request.Header(kTokenHeader);
    if (fresh || !TokenMatches(sent, session->page.antiForgeryToken)) {
      m_state.sessions->End(session, fresh, false);
      return ForgedAnswer();
    }
  }
  PageContext page;
  page.request = std::move(request);
  page.session = &session->page;
  page.application = m_state.application.get();
  page.rootDirectory = m_files.Root();
  page.scriptName = state.target.virtualPath;
  page.deadline = std::chrono::steady_clock::now() + Seconds(m_options.scriptTimeoutSeconds);

  std::string error;
  bool ran = false;
  try {
    ConnectionLease lease(m_pool, session->page.host.Get());
    ran = ExecutePage(page, state.target, &error);
  } catch (const CKvDbException& e) {
    error = "cannot open the database: " + e.Message();
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "an exception of unknown type";
  }
  // The application's lock goes with the page, before the session's turn.
  page.applicationLock.unlock();
  std::string cookieId;
  try {
    cookieId = m_state.sessions->End(session, fresh, ran);
  } catch (const CException& e) {
    if (ran) error = "the session could not be kept: " + e.Message();
    ran = false;
  }
  if (!ran) return ErrorAnswer(error);

  PageResponse& out = page.response;
  HttpAnswer answer;
  answer.status = static_cast<unsigned>(out.status);
  answer.headers = std::move(out.headers);
  bool cacheControl = false;
  for (const auto& [name, value] : answer.headers)
    cacheControl = cacheControl || EqualsIgnoringAsciiCase(name, "cache-control");
  if (!cacheControl) answer.headers.emplace_back("Cache-Control", "no-store");
  answer.headers.emplace_back("Content-Type", WithCharset(out.contentType));
  for (const auto& [name, value] : out.cookies)
    answer.headers.emplace_back("Set-Cookie", name + "=" + UrlEncode(value) + "; Path=/");
  // A session is kept, and its cookie sent, only once a page kept
  // something in it; a sign-in gives a kept session a new id.
  if (!cookieId.empty()) answer.headers.emplace_back("Set-Cookie", SessionCookie(cookieId));
  answer.body = std::move(out.body);
  return answer;
}

bool SiteServer::ExecutePage(PageContext& page, const SiteTarget& target, std::string* error) {
  return m_pages.Execute(page, target.virtualPath, error);
}

HttpAnswer SiteServer::SessionsFullAnswer() {
  return AnswerPage(MHD_HTTP_SERVICE_UNAVAILABLE, "The server keeps as many sessions as it may (" +
                                                      std::to_string(m_options.maxSessions) + "); try again later.");
}

HttpAnswer SiteServer::ForgedAnswer() {
  return AnswerPage(MHD_HTTP_FORBIDDEN,
                    "This form did not come from a page of this site, or the page is out of date. "
                    "Load the page again and send the form from there.");
}

HttpAnswer SiteServer::ErrorAnswer(const std::string& error) {
  // The visitor gets a reference to quote; the log has what went wrong
  // under it, unless the server runs for a developer.
  const std::string reference = RandomHex(4);
  std::fprintf(stderr, "kvhost: error %s: %s\n", reference.c_str(), error.c_str());
  return AnswerPage(MHD_HTTP_INTERNAL_SERVER_ERROR,
                    "The page could not be completed. If you report this, quote the reference " + reference + ".",
                    m_options.devErrors ? error : std::string());
}

MHD_Result SiteServer::Answer(MHD_Connection* connection, RequestState& state, HttpAnswer answer) {
  const unsigned status = answer.status;
  const size_t bytes = answer.body.size();
  return Queue(connection, state, status, ResponseOf(std::move(answer)), bytes);
}

MHD_Result SiteServer::Queue(MHD_Connection* connection, RequestState& state, unsigned status,
                             MHD_Response* response, size_t bytes) {
  if (!response) return MHD_NO;
  state.status = status;
  state.bytes = state.request.method == "HEAD" ? 0 : bytes;  // for the log
  if (m_draining) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
  MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

int SiteServer::Bind() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(m_options.bind.c_str(), std::to_string(m_options.port).c_str(), &hints, &found) != 0) return -1;
  sockaddr_storage address{};
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  const bool v6 = found->ai_family == AF_INET6;
  freeaddrinfo(found);

  // A thread for each connection, which reads the request, runs its page
  // and sends the answer: no hand-over between threads on a request's way.
  // A connection waiting for its client holds its thread but no page slot;
  // the connections per address are bounded, and so are all of them. The
  // wake-up channel lets a stop close the listening socket while the
  // connections finish.
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL | MHD_USE_ITC;
  if (v6) flags |= MHD_USE_IPv6;
  m_daemon = MHD_start_daemon(
      flags, static_cast<uint16_t>(m_options.port), nullptr, nullptr, &SiteServer::OnRequest, this,
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address),
      MHD_OPTION_URI_LOG_CALLBACK, &SiteServer::OnUri, this,
      MHD_OPTION_NOTIFY_COMPLETED, &SiteServer::OnCompleted, this,
      MHD_OPTION_NOTIFY_CONNECTION, &SiteServer::OnConnection, this,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
      MHD_OPTION_CONNECTION_TIMEOUT, kInactivitySeconds,
      MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(m_options.connectionsPerClient),
      MHD_OPTION_END);
  if (!m_daemon) return -1;
  const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
  m_port = info ? info->port : m_options.port;
  return m_port;
}

bool SiteServer::Listen() {
  if (!m_daemon) return false;
  std::unique_lock<std::mutex> lock(m_stopMutex);
  m_stopWake.wait(lock, [this] { return m_stopRequested; });
  lock.unlock();
  Drain();
  Shutdown();
  return true;
}

void SiteServer::Drain() {
  // The listening socket stays open while pages are in hand (at least for
  // the drain time, so that a balancer sees the health address fail), and
  // at most as long again as a page may run.
  m_draining = true;
  const auto start = std::chrono::steady_clock::now();
  const auto grace = Seconds(m_options.drainSeconds);
  const auto latest = start + grace + Seconds(m_options.scriptTimeoutSeconds);
  while (true) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= latest || (now >= start + grace && m_pagesInHand.load() == 0)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void SiteServer::Stop() {
  std::lock_guard<std::mutex> lock(m_stopMutex);
  m_stopRequested = true;
  m_stopWake.notify_all();
}

void SiteServer::Shutdown() {
  if (!m_daemon) return;
  // No new connections; the pages running finish and are answered before
  // the connections close, those still waiting for a slot are told the
  // server stops, and so is whatever arrives meanwhile.
  m_closing = true;
  const MHD_socket listening = MHD_quiesce_daemon(m_daemon);
  m_slots.Close();
  {
    std::unique_lock<std::mutex> lock(m_handMutex);
    m_handEmpty.wait(lock, [this] { return m_pagesInHand.load() == 0; });
  }
  MHD_stop_daemon(m_daemon);
  m_daemon = nullptr;
  if (listening != MHD_INVALID_SOCKET) close(listening);
}

WebServer::WebServer(const KvHostOptions& options, const HostEnvironment& host)
    : m_site(std::make_unique<SiteServer>(options, host)) {}
WebServer::~WebServer() = default;
int WebServer::Bind() { return m_site->Bind(); }
bool WebServer::Listen() { return m_site->Listen(); }
void WebServer::Stop() { m_site->Stop(); }

int ServeSite(const KvHostOptions& options, const HostEnvironment& host) {
  signal(SIGPIPE, SIG_IGN);
  // SIGINT and SIGTERM stop the server; they are taken by one thread only,
  // so they are blocked before any of the server's threads start.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::unique_ptr<WebServer> made;
  try {
    made = std::make_unique<WebServer>(options, host);
  } catch (const CException& e) {
    // The state database is reached, and its tables made, before serving.
    std::fprintf(stderr, "kvhost: cannot open the state database %s: %s\n", options.serveOptions.stateUrl.c_str(),
                 e.Message().c_str());
    return kExitSetupFailed;
  }
  WebServer& server = *made;
  const KvServeOptions& serve = options.serveOptions;
  int port = server.Bind();
  if (port < 0) {
    std::fprintf(stderr, "kvhost: cannot listen on %s port %d\n", serve.bind.c_str(), serve.port);
    return kExitSetupFailed;
  }
  const bool v6 = serve.bind.find(':') != std::string::npos;
  std::printf("kvhost: serving %s at http://%s%s%s:%d/\n", serve.root.c_str(), v6 ? "[" : "", serve.bind.c_str(),
              v6 ? "]" : "", port);
  std::fflush(stdout);

  std::thread watcher([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  });
  const bool listened = server.Listen();
  pthread_kill(watcher.native_handle(), SIGUSR1);
  watcher.join();
  return listened ? kExitPageRan : kExitSetupFailed;
}
