// Connection strings: "sqlite:PATH", "sqlite::memory:", a libpq URI
// ("postgresql://..." / "postgres://...") or "odbc:" and an ODBC connection
// string. Options after '?' that belong to the layer (servertype,
// busytimeout, reconnectwait, statementcache, savelock, and for SQLite
// mode) are
// taken out here; a PostgreSQL URI keeps the rest for libpq.
//
// An ODBC string may hold '?' and '&' in any value (a password), so there
// the layer's options are attributes of the string itself whose keywords
// begin with "kvdbal." (kvdbal.servertype=2): no driver keyword does, and a
// value is read by the ODBC grammar ({braced} values included), never
// searched for options. The rest goes to the driver manager unchanged.
//
// An SQLite file must exist unless the string asks for it to be made
// (mode=rwc): a mistyped path is an error, not a new empty database.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvdbal {

struct ConnectionSettings {
  enum class Engine { SQLite, Postgres, Odbc };
  // What a save that takes new ids locks before it reads them: nothing (the
  // keys refuse a duplicate and the save retries), or the tables it takes
  // ids in, so that concurrent saves wait for each other instead.
  enum class SaveLock { None, Table };
  Engine engine = Engine::SQLite;
  std::string target;              // SQLite file path / ":memory:", the libpq URI or the ODBC string
  std::optional<int> serverType;   // what GetDbType reports instead of the engine's own
  int busyTimeoutMs = 250;         // how long an SQLite writer waits for the write lock
  int reconnectWaitMs = 5000;      // how long a lost PostgreSQL session is tried to be made again
  int statementCacheSize = 128;    // prepared statements kept per handle; 0: none
  SaveLock saveLock = SaveLock::None;  // savelock=none|table
  bool createIfMissing = false;    // SQLite mode=rwc (mode=rw, the default, opens existing files only)
};

// Raises CKvDbException(KVDB_E_CONNECTION) for a string it cannot read.
ConnectionSettings ParseConnectionString(const std::string& connectionString);

// An SQLite connection string with the layer's option name=value added
// unless the string sets that option itself: how a host gives its own
// default (a longer busy timeout, files made when missing) while the
// string has the last word. Other strings come back as they are.
std::string WithSqliteDefault(const std::string& connectionString, std::string_view name,
                              std::string_view value);

}  // namespace kvdbal
