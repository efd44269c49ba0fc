// The pool of reader handles that run queries outside a transaction, and
// the shared snapshot: while one is open, a reader begins a read
// transaction when it is taken and keeps it until the snapshot ends, so
// that a series of lookups locks and checks the WAL index once instead of
// once per lookup.
#include <sqlite3.h>

#include <algorithm>

#include "SqliteConnection.h"

namespace kvdbal {

namespace {

bool Contains(const std::vector<sqlite3*>& handles, sqlite3* handle) {
  return std::find(handles.begin(), handles.end(), handle) != handles.end();
}

}  // namespace

sqlite3* SqliteConnection::AcquireReader() {
  sqlite3* reader;
  if (m_idleReaders.empty()) {
    reader = OpenHandle();
  } else {
    reader = m_idleReaders.back();
    m_idleReaders.pop_back();
  }
  if (InSharedSnapshot() && sqlite3_get_autocommit(reader)) {
    try {
      RunKept(reader, "BEGIN");
    } catch (...) {
      ReleaseReader(reader);
      throw;
    }
    m_snapshotReaders.push_back(reader);
  }
  return reader;
}

void SqliteConnection::ReleaseReader(sqlite3* reader) {
  // A reader whose cursor outlived its snapshot ends the transaction now.
  if (!sqlite3_get_autocommit(reader) && !Contains(m_snapshotReaders, reader) &&
      !EndReadTransaction(reader))
    return;
  // A few idle readers cover the rowsets a page keeps open at once.
  if (m_idleReaders.size() < 4) {
    m_idleReaders.push_back(reader);
  } else {
    m_snapshotReaders.erase(std::remove(m_snapshotReaders.begin(), m_snapshotReaders.end(), reader),
                            m_snapshotReaders.end());
    CloseHandle(reader);
  }
}

void SqliteConnection::LeaveSnapshot() noexcept {
  // Readers still lent to a cursor end theirs when they come back.
  std::vector<sqlite3*> readers;
  readers.swap(m_snapshotReaders);
  for (sqlite3* reader : readers)
    if (Contains(m_idleReaders, reader)) EndReadTransaction(reader);
}

bool SqliteConnection::EndReadTransaction(sqlite3* reader) noexcept {
  if (sqlite3_get_autocommit(reader)) return true;
  try {
    RunKept(reader, "COMMIT");
    return true;
  } catch (...) {
  }
  m_idleReaders.erase(std::remove(m_idleReaders.begin(), m_idleReaders.end(), reader), m_idleReaders.end());
  CloseHandle(reader);
  return false;
}

void SqliteConnection::RunKept(sqlite3* db, const std::string& sql) {
  SqliteStatementCache& cache = CacheOf(db);
  sqlite3_stmt* stmt = cache.Enabled() ? cache.Take(sql) : nullptr;
  if (!stmt) {
    const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      RaiseFor(db, rc);
    }
  }
  const int rc = sqlite3_step(stmt);
  if (cache.Enabled())
    cache.Give(sql, stmt);
  else
    sqlite3_finalize(stmt);
  if (rc != SQLITE_DONE) RaiseFor(db, rc);
}

}  // namespace kvdbal
