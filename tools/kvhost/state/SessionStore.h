// Where the server's sessions live between requests: in this process
// (the default), or in a database that several serve processes share. The
// server asks the same four things of either around every page.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "state/WebSessions.h"

// How the start of a request's session went.
enum class SessionStart {
  Ready,  // the turn is taken and the session read (or new)
  Busy,   // another request of the session held it past the deadline
  Full,   // a new session was due, but as many as may be kept are
};

class SessionStore {
 public:
  virtual ~SessionStore() = default;

  // As the request is read: the session the cookie's id names, whose
  // requests in this process queue behind one another; null when there is
  // none. A store that cannot tell at once opens a new handle for a
  // well-formed id it holds none for, and Begin finds out whether the
  // session is still kept.
  virtual std::shared_ptr<WebSession> Open(const std::string& id) = 0;
  // A new session, not yet kept; null when no more may be kept.
  virtual std::shared_ptr<WebSession> Make() = 0;
  // Once the request's page slot has come, before the page: takes the session's turn (no other
  // request of it runs anywhere until End) and reads what was kept.
  // *fresh: the session is new (made is true) or is no longer kept.
  virtual SessionStart Begin(WebSession& session, bool made, bool* fresh,
                             std::chrono::steady_clock::time_point deadline) = 0;
  // After the page (ran: it ran to its end): keeps what changed, drops an
  // abandoned session, gives a signed-in one its new id, and ends the turn.
  // The id the client's cookie must now carry, or "" when it stays.
  virtual std::string End(const std::shared_ptr<WebSession>& session, bool fresh, bool ran) = 0;
};
