#include <sqlite3.h>

#include "SqliteConnection.h"

namespace kvdbal {

HRESULT SqliteResultToHresult(int resultCode, std::string_view message) {
  switch (resultCode & 0xff) {
    case SQLITE_BUSY:    // another connection holds the write lock, or our snapshot is stale
    case SQLITE_LOCKED:  // a conflict inside this process's shared cache
      return KVDB_E_COLLISION_LOCKED;
    case SQLITE_CONSTRAINT:
      if (resultCode == SQLITE_CONSTRAINT_UNIQUE || resultCode == SQLITE_CONSTRAINT_PRIMARYKEY ||
          resultCode == SQLITE_CONSTRAINT_ROWID)
        return KVDB_E_COLLISION_DUPKEY;
      return KVDB_E_ERRORSINCOMMAND;
    case SQLITE_ERROR:
      if (message.rfind("no such table", 0) == 0) return KVDB_E_NOTABLE;
      return KVDB_E_ERRORSINCOMMAND;
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
    case SQLITE_TOOBIG:
      return KVDB_E_ERRORSINCOMMAND;
    case SQLITE_NOMEM:
      return E_OUTOFMEMORY;
    case SQLITE_FULL:
      return KVDB_E_DISKFULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return E_ACCESSDENIED;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
      return KVDB_E_CONNECTION;
    default:
      return E_FAIL;
  }
}

}  // namespace kvdbal
