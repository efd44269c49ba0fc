// Sessions kept in the shared state database. A request reads its session
// when it starts and writes it back when it ends, and only when it changed
// (or its expiry is due to move on); meanwhile it holds the session's lock
// row, so the requests of one session run one at a time in every process.
// Rows past their expiry are never read and are deleted by a sweep that
// runs apart from requests.
#pragma once

#include <functional>
#include <mutex>
#include <unordered_map>

#include "base/PeriodicTask.h"
#include "state/SessionStore.h"
#include "state/StateDatabase.h"

class DatabaseSessions final : public SessionStore {
 public:
  // makeHost: a host session for each session object; developmentUser:
  // the user a new session starts with (0: nobody); limit: the sessions
  // all processes keep at once, counted in the database whenever a request
  // would start a new one.
  DatabaseSessions(StateDatabase& database, std::function<ComPtr<IDispatch>()> makeHost, long developmentUser,
                   size_t limit, std::chrono::steady_clock::duration sweepEvery = std::chrono::seconds(5));
  ~DatabaseSessions() override = default;

  std::shared_ptr<WebSession> Open(const std::string& id) override;
  std::shared_ptr<WebSession> Make() override;
  SessionStart Begin(WebSession& session, bool made, bool* fresh,
                     std::chrono::steady_clock::time_point deadline) override;
  std::string End(const std::shared_ptr<WebSession>& session, bool fresh, bool ran) override;

  // Deletes the rows past their expiry.
  void Sweep();

 private:
  // Gives a session object a new id (and its place in the map under it).
  void Rekey(const std::shared_ptr<WebSession>& session, const std::string& id);
  void StartOver(WebSession& session);
  // Whether another session may be kept: fewer than the limit are, past
  // their expiry or not.
  bool HasRoom();
  void Remember(const std::shared_ptr<WebSession>& session);

  StateDatabase& m_database;
  std::function<ComPtr<IDispatch>()> m_makeHost;
  const long m_developmentUser;
  const size_t m_limit;

  // The session objects of the requests this process runs or queues now,
  // so that requests of one session meet in one queue; the objects go with
  // their last request.
  std::mutex m_mutex;
  std::unordered_map<std::string, std::weak_ptr<WebSession>> m_live;
  size_t m_pruneAt = 1024;

  // Last, so it stops before the members its sweeps use go.
  PeriodicTask m_sweeper;
};
