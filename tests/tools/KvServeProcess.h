// A real `kvhost serve` child process on a free port, for tests that talk
// HTTP to it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include <httplib.h>

#include "KvHostProcess.h"
#include "tests/fixture/TestDatabase.h"

// A session of the server: its cookie ("KVSESSIONID=...") and the
// anti-forgery token its forms carry.
struct ServeSession {
  std::string cookie;
  std::string token;
};
// Opens one with a page whose whole output is Session.Token.
ServeSession OpenSession(httplib::Client& client, const std::string& tokenPage);
// The session cookie an answer sets ("" when none).
std::string SessionCookie(const httplib::Result& result);
// An answer as "STATUS BODY", or "no answer: ERROR" when none came.
std::string Answer(const httplib::Result& result);
// A header of an answer ("" when none came or it has none).
std::string Header(const httplib::Result& result, const std::string& name);

// A TCP connection to 127.0.0.1:port made from the loopback address source
// (any 127.x.y.z), so that tests can play many clients; closed when it goes.
class RawConnection {
 public:
  RawConnection(const std::string& source, int port);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;
  bool Connected() const { return m_fd >= 0; }
  bool Send(const std::string& bytes);
  // True when the server has closed (or reset) the connection, waiting at
  // most waitMs; what it sent before is appended to *received.
  bool ClosedByServer(int waitMs, std::string* received = nullptr);

 private:
  int m_fd = -1;
};

// A running `kvhost serve`; stopped with SIGTERM when it goes.
class ServeProcess {
 public:
  // Starts kvhost serve ARGS and waits until it prints its address; name
  // keeps the output files of several servers in one workspace apart.
  ServeProcess(const KvHostWorkspace& ws, std::vector<std::string> args, const std::string& name = "serve");
  ~ServeProcess() { Stop(); }

  int Port() const { return m_port; }
  bool Alive() const;
  // Exit status after SIGTERM; -1 when it did not exit normally.
  int Stop();
  // Sends a signal without waiting (SIGTERM to watch it drain, SIGKILL
  // to play a crash).
  void Signal(int signal) const;
  // Exit status once it ended on its own or by Signal; -1 when not normal.
  int Wait();
  // What it wrote on standard error (the access log among it).
  std::string Log() const { return m_ws.Read(m_err); }
  std::unique_ptr<httplib::Client> Client() const;

 private:
  const KvHostWorkspace& m_ws;
  std::string m_out, m_err;
  pid_t m_pid = -1;
  int m_port = 0;
  int m_status = -1;
};

// What the serve tests share: a site in the workspace's "site" folder and
// the database its pages work on.
class ServeSite {
 protected:
  void Page(const std::string& name, const std::string& text) { m_ws.Write("site/" + name, text); }
  // Order 1 ("A1", red, open) for pages that read a record.
  void AddOrderA1();
  // kvhost serve on the site and m_db with workers page workers and more
  // options; name keeps the files of several servers apart.
  std::unique_ptr<ServeProcess> StartServe(int workers, const std::vector<std::string>& more = {},
                                           const std::string& name = "serve");

  std::unique_ptr<TestDatabase> m_db;
  KvHostWorkspace m_ws;
};
