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

}  // namespace kvdbal
