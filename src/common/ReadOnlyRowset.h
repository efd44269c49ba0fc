// Opening a rowset for reading only (cursor type -1, lock type -1, fetch
// option 0), the way every lookup and query of the component reads.
#pragma once

#include <string>

#include "../outside/KvDbal.h"

// Closes rowset first when it is still open on an earlier statement.
inline void OpenForReading(CKvDbRowset& rowset, const std::string& sql, CKvDbConnection& connection) {
  if (rowset.IsOpen()) rowset.Close();
  rowset.Open(sql.c_str(), &connection, kvDbCursorUnspecified, kvDbLockUnspecified,
              kvDbFetchDefault);
}
