// What the ODBC engine must know of the server behind a driver, found from
// the name the driver reports (SQL_DBMS_NAME): how a session is set to
// standard SQL, which dialect the component should speak, how one row of a
// table without a key is reached, and what the driver needs to stream a
// result and to count the rows an UPDATE matched.
#pragma once

#include <string>
#include <vector>

#include "../ConnectionString.h"
#include "../KvDbal.h"
#include "OdbcApi.h"

namespace kvdbal::odbc {

enum class ServerFamily { MariaDB, PostgreSQL, SqlServer, Oracle, Informix, Other };

struct ServerTraits {
  ServerFamily family = ServerFamily::Other;
  eKvDbServerType serverType = kvDbServerStandard;
  // The hidden column naming a row; null when the server has none.
  const char* rowIdentity = nullptr;
  // The driver takes a whole result before handing out its first row, so
  // a query is read in windows (LIMIT ... OFFSET ...): skipped rows never
  // leave the server and the client holds one window at a time.
  bool readsInWindows = false;
  // Queries are kept prepared by their shape, their literals bound as
  // parameters of the types they read as (MariaDB's driver; PostgreSQL's
  // sends such parameters untyped, which its server cannot always place).
  bool keepsQueryShapes = false;
};

// The statement that starts a read-only transaction whose reads all see
// one snapshot, so that the windows of one result agree.
std::string SnapshotStart(ServerFamily family);

ServerTraits TraitsOf(const std::string& dbmsName);

// The family a connection string's driver belongs to, when its name says so
// before connecting (Driver={...}, or the driver of a DSN).
ServerFamily FamilyOfDriver(const std::string& odbcString);

// The connection string a driver of family gets: the caller's, with what
// the engine relies on added (for MariaDB: UPDATE counts matched rows, the
// connection speaks utf8mb4, and a streaming connection reads its result
// row by row instead of taking it whole first).
std::string DriverConnectionString(const std::string& odbcString, ServerFamily family, bool streaming);

// Statements that set a new session to standard SQL and the busy timeout.
std::vector<std::string> SessionSetup(ServerFamily family, int busyTimeoutMs);

// The UPDATE of the first row where matches, for a table without a key.
std::string UpdateFirstMatchOn(const ServerTraits& traits, const std::string& table,
                               const std::string& assignments, const std::string& where);

// The HRESULT for a diagnostic: duplicate keys, serialisation failures and
// lock timeouts are the collisions a save retries on.
HRESULT HresultOf(const Diagnostic& diagnostic);
// "text (SQLSTATE s, native error n)".
std::string MessageOf(const Diagnostic& diagnostic);

}  // namespace kvdbal::odbc
