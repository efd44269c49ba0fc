// A real `kvhost serve` child process on a free port, for tests that talk
// HTTP to it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include <httplib.h>

#include "KvHostProcess.h"

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

