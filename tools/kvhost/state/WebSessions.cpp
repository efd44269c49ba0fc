#include "state/WebSessions.h"

#include <utility>
#include <vector>

#include "base/KernelRandom.h"

namespace {

bool Expired(const WebSession& session, WebSessions::Clock::time_point now) {
  const WebSessions::Clock::time_point used{WebSessions::Clock::duration(session.lastUsed.load())};
  return now - used > std::chrono::minutes(session.page.timeoutMinutes.load());
}

}  // namespace

std::string NewSessionId() { return RandomHex(16); }

SessionKeys NewSessionKeys() {
  // Every request without a cookie makes a session: one draw, not two.
  std::string both = RandomHex(32);
  return SessionKeys{both.substr(0, 32), both.substr(32)};
}

WebSessions::WebSessions(std::function<ComPtr<IDispatch>()> makeHost, size_t limit, Clock::duration sweepEvery)
    : m_makeHost(std::move(makeHost)), m_limit(limit),
      m_sweeper(sweepEvery, [this] { Sweep(); }) {}

std::shared_ptr<WebSession> WebSessions::FindLive(const std::string& id, Clock::time_point now) {
  if (id.empty()) return nullptr;
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_sessions.find(id);
  if (it == m_sessions.end() || it->second->page.abandoned || Expired(*it->second, now)) return nullptr;
  return it->second;
}

std::shared_ptr<WebSession> WebSessions::MakeSession(Clock::time_point now) {
  auto session = std::make_shared<WebSession>();
  SessionKeys keys = NewSessionKeys();
  session->page.id = std::move(keys.id);
  session->page.antiForgeryToken = std::move(keys.antiForgeryToken);
  session->page.host = m_makeHost();
  Touch(*session, now);
  return session;
}

bool WebSessions::HasRoom() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_sessions.size() < m_limit;
}

bool WebSessions::Store(const std::shared_ptr<WebSession>& session) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_sessions.size() >= m_limit) return false;
  m_sessions.emplace(session->page.id, session);
  return true;
}

bool WebSessions::Renew(const std::shared_ptr<WebSession>& session) {
  std::string id = NewSessionId();
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_sessions.find(session->page.id);
  if (it == m_sessions.end() || it->second != session) return false;
  m_sessions.erase(it);
  session->page.id = std::move(id);
  m_sessions.emplace(session->page.id, session);
  return true;
}

void WebSessions::Touch(WebSession& session, Clock::time_point now) {
  session.lastUsed = now.time_since_epoch().count();
}

void WebSessions::Drop(const std::string& id) {
  std::shared_ptr<WebSession> dropped;  // released outside the lock
  std::lock_guard<std::mutex> lock(m_mutex);
  if (auto it = m_sessions.find(id); it != m_sessions.end()) {
    dropped = std::move(it->second);
    m_sessions.erase(it);
  }
}

void WebSessions::Sweep(Clock::time_point now) {
  // Host sessions are released after the lock is let go.
  std::vector<std::shared_ptr<WebSession>> dropped;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto it = m_sessions.begin(); it != m_sessions.end();) {
    WebSession& session = *it->second;
    if (!session.turn.InUse() && (Expired(session, now) || session.page.abandoned)) {
      dropped.push_back(std::move(it->second));
      it = m_sessions.erase(it);
    } else {
      ++it;
    }
  }
}

size_t WebSessions::Count() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_sessions.size();
}
