// The web server's sessions, found by the id in their cookie. Ids are 128
// random bits from the kernel, so they cannot be guessed; an id the server
// did not hand out never makes a session (a new one with a fresh id is made
// instead). A session unused for longer than its timeout is dropped.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "PageContext.h"

constexpr const char* kSessionCookie = "KVSESSIONID";

struct WebSession {
  PageSession page;
  // Held while one of the session's requests runs: one at a time.
  std::mutex running;
  std::chrono::steady_clock::time_point lastUsed;
};

class WebSessions {
 public:
  using Clock = std::chrono::steady_clock;
  // makeHost: a new host session for each web session.
  explicit WebSessions(std::function<ComPtr<IDispatch>()> makeHost) : m_makeHost(std::move(makeHost)) {}

  // The live session of id, or a new one (*created then true).
  std::shared_ptr<WebSession> Find(const std::string& id, bool* created, Clock::time_point now = Clock::now());
  // Marks the session used now (call when its request ends).
  void Touch(WebSession& session, Clock::time_point now = Clock::now());
  void Drop(const std::string& id);
  size_t Count();

 private:
  void DropExpired(Clock::time_point now);

  std::function<ComPtr<IDispatch>()> m_makeHost;
  std::mutex m_mutex;
  std::map<std::string, std::shared_ptr<WebSession>> m_sessions;
};

// 32 hex digits of kernel randomness.
std::string NewSessionId();
