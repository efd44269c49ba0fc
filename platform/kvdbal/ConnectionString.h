// Connection strings: "sqlite:PATH", "sqlite::memory:" or a libpq URI
// ("postgresql://..." / "postgres://..."). Options after '?' that belong to
// the layer (servertype, busytimeout, statementcache, and for SQLite mode)
// are taken out here; a PostgreSQL URI keeps the rest for libpq.
//
// An SQLite file must exist unless the string asks for it to be made
// (mode=rwc): a mistyped path is an error, not a new empty database.
#pragma once

#include <optional>
#include <string>

namespace kvdbal {

struct ConnectionSettings {
  enum class Engine { SQLite, Postgres };
  Engine engine = Engine::SQLite;
  std::string target;              // SQLite file path / ":memory:", or the libpq URI
  std::optional<int> serverType;   // what GetDbType reports instead of the engine's own
  int busyTimeoutMs = 250;         // how long an SQLite writer waits for the write lock
  int statementCacheSize = 128;    // prepared statements kept per handle; 0: none
  bool createIfMissing = false;    // SQLite mode=rwc (mode=rw, the default, opens existing files only)
};

// Raises CKvDbException(KVDB_E_CONNECTION) for a string it cannot read.
ConnectionSettings ParseConnectionString(const std::string& connectionString);

}  // namespace kvdbal
