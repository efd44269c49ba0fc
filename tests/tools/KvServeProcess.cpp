#include "KvServeProcess.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <regex>
#include <thread>

ServeProcess::ServeProcess(const KvHostWorkspace& ws, std::vector<std::string> args)
    : m_ws(ws), m_out(ws.Dir() + "/serve.out"), m_err(ws.Dir() + "/serve.err") {
  args.insert(args.begin(), "serve");
  m_pid = ws.Spawn(args, {}, m_out, m_err);
  const std::regex address(R"(http://127\.0\.0\.1:([0-9]+)/)");
  for (int i = 0; i < 600 && m_port == 0 && Alive(); ++i) {
    std::smatch match;
    std::string out = ws.Read(m_out);
    if (std::regex_search(out, match, address))
      m_port = std::stoi(match[1]);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool ServeProcess::Alive() const { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }

int ServeProcess::Stop() {
  if (m_pid <= 0) return m_status;
  kill(m_pid, SIGTERM);
  int status = 0;
  if (waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status)) m_status = WEXITSTATUS(status);
  m_pid = -1;
  return m_status;
}

std::unique_ptr<httplib::Client> ServeProcess::Client() const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
  client->set_read_timeout(20, 0);
  client->set_keep_alive(true);
  client->set_tcp_nodelay(true);
  return client;
}
