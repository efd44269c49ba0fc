// A real `kvhost serve` child process on a free port, for tests that talk
// HTTP to it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include <httplib.h>

#include "KvHostProcess.h"

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
  // Starts kvhost serve ARGS and waits until it prints its address.
  ServeProcess(const KvHostWorkspace& ws, std::vector<std::string> args);
  ~ServeProcess() { Stop(); }

  int Port() const { return m_port; }
  bool Alive() const;
  // Exit status after SIGTERM; -1 when it did not exit normally.
  int Stop();
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

