#include "KvServeProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

ServeProcess::ServeProcess(const KvHostWorkspace& ws, std::vector<std::string> args, const std::string& name)
    : m_ws(ws), m_out(ws.Dir() + "/" + name + ".out"), m_err(ws.Dir() + "/" + name + ".err") {
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

void ServeProcess::Signal(int signal) const {
  if (m_pid > 0) kill(m_pid, signal);
}

int ServeProcess::Stop() {
  Signal(SIGTERM);
  return Wait();
}

int ServeProcess::Wait() {
  if (m_pid <= 0) return m_status;
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

ServeSession OpenSession(httplib::Client& client, const std::string& tokenPage) {
  ServeSession session;
  auto result = client.Get(tokenPage);
  if (!result || result->status != 200) return session;
  session.cookie = SessionCookie(result);
  session.token = result->body;
  return session;
}

std::string SessionCookie(const httplib::Result& result) {
  if (!result) return "";
  for (const auto& [name, value] : result->headers) {
    if (name == "Set-Cookie" && value.rfind("KVSESSIONID=", 0) == 0) return value.substr(0, value.find(';'));
  }
  return "";
}

std::string Answer(const httplib::Result& result) {
  if (!result) return "no answer: " + httplib::to_string(result.error());
  return std::to_string(result->status) + " " + result->body;
}

std::string Header(const httplib::Result& result, const std::string& name) {
  return result ? result->get_header_value(name) : "";
}

RawConnection::RawConnection(const std::string& source, int port) {
  m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) return;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (bind(m_fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    close(m_fd);
    m_fd = -1;
  }
}

RawConnection::~RawConnection() {
  if (m_fd >= 0) close(m_fd);
}

bool RawConnection::Send(const std::string& bytes) {
  return m_fd >= 0 && send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool RawConnection::ClosedByServer(int waitMs, std::string* received) {
  if (m_fd < 0) return true;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd readable{m_fd, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(std::max<long long>(0, left.count()))) <= 0) return false;
    char buffer[4096];
    ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) return true;
    if (received) received->append(buffer, static_cast<size_t>(n));
  }
}

void ServeSite::AddOrderA1() {
  m_db->Exec(
      "INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, lamount, dblprice) "
      "VALUES (1, '2024-03-01 09:00:00', 1, -1, 0, 'A1', 'red', '2', 3, 19.5)");
}

std::unique_ptr<ServeProcess> ServeSite::StartServe(int workers, const std::vector<std::string>& more,
                                                    const std::string& name) {
  std::vector<std::string> args{"--root",  m_ws.Dir() + "/site", "--port",    "0", "--db", m_db->ConnectionString(),
                                "--base",  m_db->BasePath(),     "--workers", std::to_string(workers)};
  args.insert(args.end(), more.begin(), more.end());
  auto server = std::make_unique<ServeProcess>(m_ws, args, name);
  EXPECT_GT(server->Port(), 0) << server->Log();
  return server;
}
