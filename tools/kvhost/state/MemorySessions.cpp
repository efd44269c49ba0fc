#include "state/MemorySessions.h"

#include <cstdio>

std::shared_ptr<WebSession> MemorySessions::Make() {
  return m_sessions.HasRoom() ? m_sessions.MakeSession() : nullptr;
}

SessionStart MemorySessions::Begin(WebSession&, bool made, bool* fresh, std::chrono::steady_clock::time_point) {
  // The session's queue in this process is its turn, and its values are
  // where the page reads them; a new one was made only when there was room.
  *fresh = made;
  return SessionStart::Ready;
}

std::string MemorySessions::End(const std::shared_ptr<WebSession>& session, bool fresh, bool ran) {
  WebSessions::Touch(*session);
  const bool abandoned = session->page.abandoned;
  if (abandoned && !fresh) m_sessions.Drop(session->page.id);
  const bool renew = session->page.renewId.exchange(false);
  if (!ran || abandoned) return "";
  if (!fresh && renew && m_sessions.Renew(session)) return session->page.id;
  if (fresh && session->page.kept) {
    if (m_sessions.Store(session)) return session->page.id;
    std::fprintf(stderr, "kvhost: a session was not kept: the server keeps as many as it may\n");
  }
  return "";
}
