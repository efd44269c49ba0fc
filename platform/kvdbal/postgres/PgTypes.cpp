#include <cstring>

#include "PgConnection.h"

namespace kvdbal {

// Type OIDs are fixed in the server's catalogue.
ColumnInfo ClassifyPgType(Oid type, int modifier) {
  ColumnInfo info;
  switch (type) {
    case 21:  // int2
      info.kind = ValueKind::SmallInt;
      break;
    case 20:  // int8
    case 23:  // int4
    case 26:  // oid
      info.kind = ValueKind::Integer;
      break;
    case 16:  // bool
      info.kind = ValueKind::Boolean;
      break;
    case 700:   // float4
    case 701:   // float8
    case 1700:  // numeric
    case 790:   // money
      info.kind = ValueKind::Real;
      break;
    case 1082:  // date
    case 1114:  // timestamp
    case 1184:  // timestamptz
      info.kind = ValueKind::Date;
      break;
    case 17:  // bytea
      info.kind = ValueKind::Binary;
      info.isLong = true;
      break;
    case 25:  // text
      info.kind = ValueKind::Text;
      info.isLong = true;
      break;
    case 1043:  // varchar: long when declared without a length
      info.kind = ValueKind::Text;
      info.isLong = modifier < 0;
      break;
    default:  // char, name, time, uuid, ... come out as their text
      info.kind = ValueKind::Text;
      break;
  }
  return info;
}

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
