#include "OdbcServer.h"

#define ULONG KvOdbcUnusedUlong
#include <odbcinst.h>
#undef ULONG


#include <algorithm>
#include <cstdlib>

#include "../../com/AsciiCase.h"

namespace kvdbal::odbc {
namespace {

bool Contains(const std::string& lowerText, const char* word) { return lowerText.find(word) != std::string::npos; }

ServerFamily FamilyOfName(const std::string& name) {
  const std::string lower = LowerAscii(name);
  if (Contains(lower, "maria") || Contains(lower, "mysql") || Contains(lower, "myodbc")) return ServerFamily::MariaDB;
  if (Contains(lower, "postgres") || Contains(lower, "psqlodbc")) return ServerFamily::PostgreSQL;
  if (Contains(lower, "sql server") || Contains(lower, "freetds") || Contains(lower, "tdsodbc") ||
      Contains(lower, "msodbcsql"))
    return ServerFamily::SqlServer;
  if (Contains(lower, "oracle")) return ServerFamily::Oracle;
  if (Contains(lower, "informix")) return ServerFamily::Informix;
  return ServerFamily::Other;
}

// The value of keyword in an ODBC string ("" when absent), braces taken off.
std::string AttributeValue(const std::string& odbcString, const char* keyword) {
  const std::string lower = LowerAscii(odbcString);
  const std::string wanted = LowerAscii(keyword);
  size_t i = 0;
  while (i < lower.size()) {
    size_t eq = lower.find('=', i);
    if (eq == std::string::npos) break;
    std::string name = lower.substr(i, eq - i);
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    size_t v = eq + 1, end;
    if (v < odbcString.size() && odbcString[v] == '{') {
      end = odbcString.find('}', v);
      while (end != std::string::npos && end + 1 < odbcString.size() && odbcString[end + 1] == '}')
        end = odbcString.find('}', end + 2);
      if (end == std::string::npos) end = odbcString.size();
      if (name == wanted) return odbcString.substr(v + 1, end - v - 1);
      end = odbcString.find(';', end);
    } else {
      end = odbcString.find(';', v);
      if (name == wanted) return odbcString.substr(v, end == std::string::npos ? std::string::npos : end - v);
    }
    if (end == std::string::npos) break;
    i = end + 1;
  }
  return "";
}

// MariaDB Connector/ODBC's option bits: return matched rows for UPDATE, and
// read a forward-only result row by row instead of caching it whole.
constexpr unsigned long kMariaFoundRows = 2;
constexpr unsigned long kMariaNoCache = 1048576;

}  // namespace

ServerTraits TraitsOf(const std::string& dbmsName) {
  ServerTraits traits;
  traits.family = FamilyOfName(dbmsName);
  switch (traits.family) {
    case ServerFamily::PostgreSQL:
      traits.rowIdentity = "ctid";
      break;
    case ServerFamily::MariaDB:
      traits.readsInWindows = true;
      traits.keepsQueryShapes = true;
      break;
    case ServerFamily::Oracle:
      traits.serverType = kvDbServerOuterPlus;
      traits.rowIdentity = "ROWID";
      break;
    case ServerFamily::Informix:
      traits.serverType = kvDbServerTempInto;
      traits.rowIdentity = "ROWID";
      break;
    default:
      break;
  }
  return traits;
}

ServerFamily FamilyOfDriver(const std::string& odbcString) {
  std::string driver = AttributeValue(odbcString, "driver");
  if (driver.empty()) {
    const std::string dsn = AttributeValue(odbcString, "dsn");
    if (dsn.empty()) return ServerFamily::Other;
    char buffer[512] = {};
    SQLGetPrivateProfileString(dsn.c_str(), "Driver", "", buffer, sizeof buffer, "odbc.ini");
    driver = buffer;
  }
  return FamilyOfName(driver);
}

std::string DriverConnectionString(const std::string& odbcString, ServerFamily family, bool streaming) {
  if (family == ServerFamily::PostgreSQL) {
    // Booleans as booleans, not as the text 1 or 0; a streaming connection
    // reads its result through a server cursor, a batch at a time.
    std::string text = odbcString;
    if (!text.empty() && text.back() != ';') text += ';';
    if (AttributeValue(odbcString, "boolsaschar").empty()) text += "BoolsAsChar=0;";
    if (streaming && AttributeValue(odbcString, "usedeclarefetch").empty()) text += "UseDeclareFetch=1;Fetch=200;";
    return text;
  }
  if (family != ServerFamily::MariaDB) return odbcString;
  // The caller's own option bits are kept and ours added; a later OPTION
  // attribute is the one the driver reads.
  std::string given = AttributeValue(odbcString, "option");
  if (given.empty()) given = AttributeValue(odbcString, "options");
  unsigned long bits = std::strtoul(given.c_str(), nullptr, 10) | kMariaFoundRows;
  if (streaming) bits |= kMariaNoCache;
  std::string text = odbcString;
  if (!text.empty() && text.back() != ';') text += ';';
  text += "OPTIONS=" + std::to_string(bits) + ";";
  if (AttributeValue(odbcString, "charset").empty()) text += "CHARSET=utf8mb4;";
  return text;
}

std::vector<std::string> SessionSetup(ServerFamily family, int busyTimeoutMs) {
  switch (family) {
    case ServerFamily::MariaDB: {
      // Lock waits are counted in whole seconds there.
      const std::string seconds = std::to_string(std::max(1, (busyTimeoutMs + 999) / 1000));
      return {"SET SESSION sql_mode = 'ANSI_QUOTES,PIPES_AS_CONCAT,NO_BACKSLASH_ESCAPES,STRICT_ALL_TABLES,"
              "NO_ZERO_IN_DATE,NO_ZERO_DATE,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION'",
              "SET SESSION innodb_lock_wait_timeout = " + seconds + ", lock_wait_timeout = " + seconds};
    }
    case ServerFamily::PostgreSQL:
      return {"SET lock_timeout = " + std::to_string(busyTimeoutMs)};
    default:
      return {};
  }
}

std::string SnapshotStart(ServerFamily family) {
  return family == ServerFamily::MariaDB ? "START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY"
                                         : "START TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY";
}

std::string UpdateFirstMatchOn(const ServerTraits& traits, const std::string& table,
                               const std::string& assignments, const std::string& where) {
  switch (traits.family) {
    case ServerFamily::MariaDB:
      return "UPDATE " + table + " SET " + assignments + " WHERE " + where + " LIMIT 1";
    case ServerFamily::SqlServer:
      return "UPDATE TOP (1) " + table + " SET " + assignments + " WHERE " + where;
    case ServerFamily::Oracle:
      return "UPDATE " + table + " SET " + assignments + " WHERE ROWID = (SELECT ROWID FROM " + table +
             " WHERE " + where + " AND ROWNUM = 1)";
    case ServerFamily::Informix:
      return "UPDATE " + table + " SET " + assignments + " WHERE ROWID = (SELECT FIRST 1 ROWID FROM " + table +
             " WHERE " + where + ")";
    case ServerFamily::PostgreSQL:
      return "UPDATE " + table + " SET " + assignments + " WHERE ctid = (SELECT ctid FROM " + table +
             " WHERE " + where + " LIMIT 1)";
    case ServerFamily::Other:
      break;
  }
  throw CKvDbException(KVDB_E_NOTSUPPORTED, "the row of " + table +
                                                " has no key, and this server offers no way to update one of "
                                                "several equal rows");
}

HRESULT HresultOf(const Diagnostic& d) {
  const std::string& s = d.state;
  const std::string cls = s.substr(0, 2);
  if (IsConnectionLost(d)) return KVDB_E_CONNECTION;
  // Duplicate keys: the generic integrity state with the server's own
  // duplicate number, or PostgreSQL's own state.
  if (s == "23505") return KVDB_E_COLLISION_DUPKEY;
  if (s == "23000") {
    for (SQLINTEGER code : {1062, 1586, 1022, 2627, 2601, 1, -239, -268, -100})
      if (d.native == code) return KVDB_E_COLLISION_DUPKEY;
    return KVDB_E_ERRORSINCOMMAND;
  }
  if (s == "40001" || s == "40P01") return KVDB_E_COLLISION_DEADLOCK;
  if (s == "HYT00" || s == "HYT01" || s == "55P03") return KVDB_E_COLLISION_LOCKED;
  // MariaDB's lock wait timeout comes with the general state.
  if (d.native == 1205 && s == "HY000") return KVDB_E_COLLISION_LOCKED;
  if (s == "42S02" || s == "42P01") return KVDB_E_NOTABLE;
  if (s == "HY001" || s == "53200") return E_OUTOFMEMORY;
  if (s == "53100") return KVDB_E_DISKFULL;
  if (cls == "08") return KVDB_E_CONNECTION;
  if (cls == "28") return E_ACCESSDENIED;
  if (cls == "42" || cls == "22" || cls == "23" || cls == "21" || cls == "07" || cls == "25" || cls == "34" ||
      cls == "0A" || s == "HY000")
    return KVDB_E_ERRORSINCOMMAND;
  return E_FAIL;
}

std::string MessageOf(const Diagnostic& d) {
  return d.text + " (SQLSTATE " + d.state + ", native error " + std::to_string(d.native) + ")";
}

}  // namespace kvdbal::odbc
