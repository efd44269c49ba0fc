// SQLSTATE codes as the layer's HRESULTs: duplicate keys and lock or
// serialisation conflicts become the collision codes saving retries on.
#include <cstring>
#include <string>

#include "PgConnection.h"

namespace kvdbal {

HRESULT PgStateToHresult(const char* sqlState) {
  if (!sqlState || std::strlen(sqlState) != 5) return KVDB_E_CONNECTION;
  std::string state(sqlState);
  if (state == "23505") return KVDB_E_COLLISION_DUPKEY;     // unique_violation
  if (state == "40001" || state == "40P01")                 // serialization_failure, deadlock
    return KVDB_E_COLLISION_DEADLOCK;
  if (state == "55P03") return KVDB_E_COLLISION_LOCKED;     // lock_not_available
  if (state == "42P01") return KVDB_E_NOTABLE;              // undefined_table
  if (state == "53200") return E_OUTOFMEMORY;
  if (state == "53100") return KVDB_E_DISKFULL;
  if (state == "25006") return E_ACCESSDENIED;              // read_only_sql_transaction
  std::string cls = state.substr(0, 2);
  if (cls == "08") return KVDB_E_CONNECTION;
  if (cls == "42" || cls == "22" || cls == "23" || cls == "25" || cls == "34" || cls == "0A")
    return KVDB_E_ERRORSINCOMMAND;
  if (cls == "28") return E_ACCESSDENIED;
  return E_FAIL;
}

}  // namespace kvdbal
