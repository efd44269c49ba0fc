#include "WebSessions.h"

#include <sys/random.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace {

bool Expired(const WebSession& session, WebSessions::Clock::time_point now) {
  return now - session.lastUsed > std::chrono::minutes(session.page.timeoutMinutes);
}

}  // namespace

std::string NewSessionId() {
  unsigned char bytes[16];
  size_t filled = 0;
  while (filled < sizeof bytes) {
    ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::runtime_error("no randomness for a session id");
    filled += static_cast<size_t>(n);
  }
  static const char* kHex = "0123456789abcdef";
  std::string id;
  for (unsigned char b : bytes) {
    id += kHex[b >> 4];
    id += kHex[b & 15];
  }
  return id;
}

std::shared_ptr<WebSession> WebSessions::Find(const std::string& id, bool* created, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(m_mutex);
  DropExpired(now);
  *created = false;
  if (auto it = m_sessions.find(id); it != m_sessions.end() && !it->second->page.abandoned) {
    it->second->lastUsed = now;
    return it->second;
  }
  auto session = std::make_shared<WebSession>();
  session->page.id = NewSessionId();
  session->page.host = m_makeHost();
  session->lastUsed = now;
  m_sessions[session->page.id] = session;
  *created = true;
  return session;
}

void WebSessions::Touch(WebSession& session, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(m_mutex);
  session.lastUsed = now;
}

void WebSessions::Drop(const std::string& id) {
  std::shared_ptr<WebSession> dropped;  // released outside the lock
  std::lock_guard<std::mutex> lock(m_mutex);
  if (auto it = m_sessions.find(id); it != m_sessions.end()) {
    dropped = std::move(it->second);
    m_sessions.erase(it);
  }
}

size_t WebSessions::Count() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_sessions.size();
}

void WebSessions::DropExpired(Clock::time_point now) {
  // A session whose request still runs is kept alive by that request.
  for (auto it = m_sessions.begin(); it != m_sessions.end();) {
    if (Expired(*it->second, now))
      it = m_sessions.erase(it);
    else
      ++it;
  }
}
