#include "state/StateDatabase.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "base/KernelRandom.h"
#include "platform/kvdbal/ConnectionString.h"
#include "platform/kvdbal/KvDbal.h"

namespace {

const char* const kTables[] = {
    "CREATE TABLE IF NOT EXISTS kvhost_sessions (id VARCHAR(64) PRIMARY KEY, expires_ms BIGINT NOT NULL, "
    "kept TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS kvhost_sessions_expiry ON kvhost_sessions (expires_ms)",
    "CREATE TABLE IF NOT EXISTS kvhost_application (name_key VARCHAR(600) PRIMARY KEY, kept TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS kvhost_locks (name VARCHAR(100) PRIMARY KEY, owner VARCHAR(100) NOT NULL, "
    "host VARCHAR(255) NOT NULL, pid INTEGER NOT NULL, until_ms BIGINT NOT NULL)",
};

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

// A pooled connection for one statement; one that failed is not pooled
// again, so a broken link is replaced by a new one on the next use.
class Borrowed {
 public:
  explicit Borrowed(ConnectionPool& pool) : m_pool(pool), m_session(pool.Acquire()), m_connection(m_session.Get(), true) {}
  ~Borrowed() {
    if (m_healthy) m_pool.Release(std::move(m_session));
  }
  Borrowed(const Borrowed&) = delete;
  Borrowed& operator=(const Borrowed&) = delete;
  CKvDbConnection& Connection() { return m_connection; }
  void Healthy() { m_healthy = true; }

 private:
  ConnectionPool& m_pool;
  ComPtr<IDispatch> m_session;
  CKvDbConnection m_connection;
  bool m_healthy = false;
};

}  // namespace

// An SQLite state file is the server's own: made when missing.
StateDatabase::StateDatabase(const std::string& url, std::chrono::milliseconds lease)
    : m_pool(kvdbal::WithSqliteDefault(url, "mode", "rwc")), m_lease(lease), m_host(HostName()) {
  CreateTables();
}

void StateDatabase::CreateTables() {
  // Tables another process made are left alone (and the engine's notices
  // about them out of the log).
  try {
    QueryRow("SELECT name FROM kvhost_locks WHERE 1 = 0");
    QueryRow("SELECT id FROM kvhost_sessions WHERE 1 = 0");
    QueryRow("SELECT name_key FROM kvhost_application WHERE 1 = 0");
    return;
  } catch (const CKvDbException&) {
  }
  // Processes starting together may race to create the same table; the
  // loser's statement fails although the table is there, so try again.
  for (int attempt = 0;; ++attempt) {
    try {
      for (const char* sql : kTables) Execute(sql);
      return;
    } catch (const CKvDbException&) {
      if (attempt >= 3) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(50 * (attempt + 1)));
    }
  }
}

// Every statement of the store runs on its own and may run twice with the
// same outcome. One that fails is run once more on the same connection: a
// database server that restarts ends its sessions, and with them the
// statement under way; the connection then makes a new session before the
// next statement, waiting for the server to come back (the access layer's
// reconnectwait), where a new connection would be refused at once. Any
// other failure fails again.
template <typename Statement>
auto StateDatabase::Run(Statement&& statement) -> decltype(statement(std::declval<CKvDbConnection&>())) {
  Borrowed borrowed(m_pool);
  try {
    auto result = statement(borrowed.Connection());
    borrowed.Healthy();
    return result;
  } catch (const CKvDbException&) {
  }
  auto result = statement(borrowed.Connection());
  borrowed.Healthy();
  return result;
}

long StateDatabase::Execute(const std::string& sql) {
  return Run([&sql](CKvDbConnection& connection) {
    long affected = 0;
    connection.Execute(sql.c_str(), &affected, 0);
    return affected;
  });
}

std::optional<std::vector<std::string>> StateDatabase::QueryRow(const std::string& sql) {
  return Run([&sql](CKvDbConnection& connection) {
    std::optional<std::vector<std::string>> row;
    CKvDbRowset rows;
    rows.Open(sql.c_str(), &connection, kvDbOpenStatic, kvDbLockReadOnly, kvDbFetchDefault);
    if (!rows.IsEOF()) {
      row.emplace();
      for (int i = 0; i < rows.GetFieldCount(); ++i) row->push_back(rows.GetField(i)->GetStringValue());
    }
    rows.Close();
    return row;
  });
}

int64_t StateDatabase::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string StateDatabase::Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted.push_back('\'');
    quoted.push_back(c);
  }
  return quoted + "'";
}

bool StateDatabase::TryLock(const std::string& name, const std::string& owner) {
  const int64_t now = NowMs();
  // Inserted when free; taken over when the holder's lease ran out, or
  // taken again by its owner (the same statement run twice); else nothing
  // changes and the row count says so.
  return Execute("INSERT INTO kvhost_locks (name, owner, host, pid, until_ms) VALUES (" + Quoted(name) + ", " +
                 Quoted(owner) + ", " + Quoted(m_host) + ", " + std::to_string(getpid()) + ", " +
                 std::to_string(now + m_lease.count()) +
                 ") ON CONFLICT (name) DO UPDATE SET owner = excluded.owner, host = excluded.host, pid = "
                 "excluded.pid, until_ms = excluded.until_ms WHERE kvhost_locks.until_ms < " +
                 std::to_string(now) + " OR kvhost_locks.owner = excluded.owner") == 1;
}

bool StateDatabase::TakeOverFromTheDead(const std::string& name) {
  auto holder =
      QueryRow("SELECT owner, pid FROM kvhost_locks WHERE name = " + Quoted(name) + " AND host = " + Quoted(m_host));
  if (!holder || holder->size() != 2) return false;
  const pid_t pid = static_cast<pid_t>(std::atol((*holder)[1].c_str()));
  if (pid == getpid() || pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH) return false;
  return Execute("DELETE FROM kvhost_locks WHERE name = " + Quoted(name) + " AND owner = " +
                 Quoted((*holder)[0])) == 1;
}

HeldLock StateDatabase::Lock(const std::string& name, std::chrono::steady_clock::time_point deadline) {
  const std::string owner = RandomHex(16);
  auto pause = std::chrono::milliseconds(2);
  while (true) {
    if (TryLock(name, owner))
      return HeldLock([this, name, owner] {
        try {
          Execute("DELETE FROM kvhost_locks WHERE name = " + Quoted(name) + " AND owner = " + Quoted(owner));
        } catch (const CKvDbException& e) {
          // The lease frees it in time; nothing waits on this thread.
          std::fprintf(stderr, "kvhost: the lock %s could not be given up: %s\n", name.c_str(), e.Message().c_str());
        }
      });
    if (TakeOverFromTheDead(name)) continue;
    if (std::chrono::steady_clock::now() + pause > deadline) return HeldLock();
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}
