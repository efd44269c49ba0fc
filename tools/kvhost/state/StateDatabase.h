// The database that several serve processes share their sessions and
// application values through, and the locks they take in it. Each lock is
// a row with its owner and a lease: a process that ends normally deletes
// its rows; one that dies leaves them to be taken over once the lease runs
// out, or at once by a process on the same machine that sees the owner's
// process is gone.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "page/PageContext.h"
#include "state/ConnectionPool.h"

class CKvDbConnection;

class StateDatabase {
 public:
  // url: sqlite:PATH or postgresql://...; lease: how long a lock row stands
  // for its owner without being given up. Creates the tables when they are
  // missing; raises CKvDbException when the database cannot be reached.
  StateDatabase(const std::string& url, std::chrono::milliseconds lease);
  StateDatabase(const StateDatabase&) = delete;
  StateDatabase& operator=(const StateDatabase&) = delete;

  // Runs a statement; the rows it changed. Each statement given here must
  // have the same outcome when it runs twice (see Run).
  long Execute(const std::string& sql);
  // The columns of the first row as text; nothing when there is no row.
  std::optional<std::vector<std::string>> QueryRow(const std::string& sql);

  // Takes the lock of name, waiting until deadline; an empty holder when
  // the wait ran out. The holder deletes the row when it lets go.
  HeldLock Lock(const std::string& name, std::chrono::steady_clock::time_point deadline);

  // Milliseconds since the epoch on this machine's clock: the clocks of a
  // farm's machines are assumed to agree (NTP) to well within a lease.
  static int64_t NowMs();
  // name as an SQL string literal.
  static std::string Quoted(const std::string& text);

 private:
  // Runs statement(connection) on a pooled connection, once more when it
  // fails.
  template <typename Statement>
  auto Run(Statement&& statement) -> decltype(statement(std::declval<CKvDbConnection&>()));
  bool TryLock(const std::string& name, const std::string& owner);
  // Deletes the lock row of name when its owner was a process of this
  // machine that is gone; true when one was deleted.
  bool TakeOverFromTheDead(const std::string& name);
  void CreateTables();

  ConnectionPool m_pool;
  const std::chrono::milliseconds m_lease;
  const std::string m_host;
};
