// The two ways the record pump opens its queries: rows only read, and rows
// inserted or changed through the rowset (AddNew / Update).
#pragma once

#include <string>

#include "../outside/KvDbal.h"

inline void OpenForReading(CKvDbRowset& rowset, CKvDbConnection& connection,
                           const std::string& sql) {
  rowset.Open(sql.c_str(), &connection, kvDbCursorUnspecified, kvDbLockUnspecified,
              kvDbFetchDefault);
}

inline void OpenForWriting(CKvDbRowset& rowset, CKvDbConnection& connection,
                           const std::string& sql) {
  rowset.Open(sql.c_str(), &connection, kvDbOpenForwardOnly, kvDbLockPessimistic,
              kvDbFetchDefault);
}
