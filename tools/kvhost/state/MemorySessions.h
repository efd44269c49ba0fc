// Sessions kept in this process's memory: the store of a single server.
#pragma once

#include "state/SessionStore.h"

class MemorySessions final : public SessionStore {
 public:
  MemorySessions(std::function<ComPtr<IDispatch>()> makeHost, size_t limit) : m_sessions(std::move(makeHost), limit) {}

  std::shared_ptr<WebSession> Open(const std::string& id) override { return m_sessions.FindLive(id); }
  std::shared_ptr<WebSession> Make() override;
  SessionStart Begin(WebSession&, bool made, bool* fresh, std::chrono::steady_clock::time_point) override;
  std::string End(const std::shared_ptr<WebSession>& session, bool fresh, bool ran) override;

 private:
  WebSessions m_sessions;
};
