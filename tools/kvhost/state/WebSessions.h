// The web server's sessions, found by the id in their cookie in constant
// time. Ids are 128 random bits from the kernel, so they cannot be guessed;
// an id the server did not hand out finds nothing. A request without a
// live session gets a fresh one that is stored only when its page kept
// something in it, so requests that keep nothing (crawlers, health checks)
// leave nothing behind. The number of stored sessions is bounded; sessions
// unused for longer than their timeout are dropped by a sweep that runs on
// a thread of its own, apart from requests.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "base/FairSlots.h"
#include "base/PeriodicTask.h"
#include "page/PageContext.h"

constexpr const char* kSessionCookie = "KVSESSIONID";

struct WebSession {
  PageSession page;
  // The requests of one session run one at a time, in arrival order: each
  // holds the session's one turn while it runs.
  FairSlots turn{1};
  std::atomic<std::chrono::steady_clock::rep> lastUsed{0};
  // For a store outside the process: the session's lock there while one of
  // its requests runs, and the form and expiry it was read with, so that
  // an unchanged session is not written back.
  HeldLock storeLock;
  std::string storedForm;
  int64_t storedExpiryMs = 0;
};

class WebSessions {
 public:
  using Clock = std::chrono::steady_clock;
  // makeHost: a new host session for each web session; limit: the most
  // sessions stored at once; sweepEvery: how often expired ones are
  // dropped (zero: only when Sweep is called).
  WebSessions(std::function<ComPtr<IDispatch>()> makeHost, size_t limit,
              Clock::duration sweepEvery = std::chrono::seconds(5));
  ~WebSessions() = default;
  WebSessions(const WebSessions&) = delete;
  WebSessions& operator=(const WebSessions&) = delete;

  // The stored, live session of id; null when there is none.
  std::shared_ptr<WebSession> FindLive(const std::string& id, Clock::time_point now = Clock::now());
  // A new session with a fresh id and anti-forgery token, not yet stored.
  std::shared_ptr<WebSession> MakeSession(Clock::time_point now = Clock::now());
  // Whether one more session could be stored now.
  bool HasRoom();
  // Stores a session made by MakeSession; false when the bound is reached.
  bool Store(const std::shared_ptr<WebSession>& session);
  // Gives a stored session a new id (its old one finds nothing from now
  // on); false when it is not stored. The session's own requests must not
  // run at the same time.
  bool Renew(const std::shared_ptr<WebSession>& session);
  // Marks the session used now (call when its request ends).
  static void Touch(WebSession& session, Clock::time_point now = Clock::now());
  void Drop(const std::string& id);
  // Drops the sessions expired at now, unless a request of theirs runs.
  void Sweep(Clock::time_point now = Clock::now());
  size_t Count();

 private:
  std::function<ComPtr<IDispatch>()> m_makeHost;
  const size_t m_limit;
  std::mutex m_mutex;
  std::unordered_map<std::string, std::shared_ptr<WebSession>> m_sessions;

  // Last, so it stops before the members its sweeps use go.
  PeriodicTask m_sweeper;
};

// 32 hex digits of kernel randomness.
std::string NewSessionId();
// A new session's id and anti-forgery token, drawn from the kernel at once.
struct SessionKeys {
  std::string id;
  std::string antiForgeryToken;
};
SessionKeys NewSessionKeys();
