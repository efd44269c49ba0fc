// The two ways the components open their statements: rows only read
// (cursor type -1, lock type -1, fetch option 0), the way every lookup and
// query reads, and rows inserted or changed through the rowset (AddNew /
// Update). Open itself first closes a rowset still open on an earlier
// statement, so one rowset serves a whole series of lookups.
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
  rowset.Open(sql.c_str(), &connection, kvDbOpenForwardOnly, kvDbLockPessimistic, kvDbFetchDefault);
}

// Reads a lookup's first row, if it has one, with read(rowset) and closes
// the rowset again. Answers whether there was a row.
template <typename Read>
bool ReadFirstRow(CKvDbRowset& rowset, CKvDbConnection& connection, const std::string& sql,
                  Read&& read) {
  OpenForReading(rowset, connection, sql);
  const bool found = !rowset.IsEOF();
  if (found) read(rowset);
  rowset.Close();
  return found;
}

// Reads every row of a query with read(rowset) and closes the rowset again.
template <typename Read>
void ReadEachRow(CKvDbRowset& rowset, CKvDbConnection& connection, const std::string& sql,
                 Read&& read) {
  OpenForReading(rowset, connection, sql);
  while (!rowset.IsEOF()) {
    read(rowset);
    rowset.MoveNext();
  }
  rowset.Close();
}
