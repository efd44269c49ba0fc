// The SQLite backend. The engine connection's own handle, opened in WAL mode
// with a short busy timeout so that a writer meeting another process's
// write lock fails quickly with a collision instead of hanging, runs every
// write and every query inside a transaction. Queries outside a transaction
// run on pooled reader handles instead: an SQLite handle keeps the snapshot
// of its oldest unfinished query, and a rowset left open on the writing
// handle would make each later write of it fail as soon as another process
// has written, and hide other processes' writes from later queries.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../ConnectionString.h"
#include "../Engine.h"
#include "../PrimaryKeyCache.h"
#include "SqliteStatementCache.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kvdbal {

std::shared_ptr<EngineConnection> OpenSqlite(const ConnectionSettings& settings);

// Column description from a declared column type (NULL for expressions).
ColumnInfo ClassifySqliteType(const char* declaredType);
// HRESULT for an SQLite result code (extended codes included) and its message.
HRESULT SqliteResultToHresult(int resultCode, std::string_view message);

class SqliteConnection final : public EngineConnection {
 public:
  explicit SqliteConnection(const ConnectionSettings& settings);
  ~SqliteConnection() override;

  std::unique_ptr<Cursor> DoOpenCursor(const char* sql) override;
  long DoExecute(const std::string& sql) override;
  long DoExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) override;
  void DoBegin() override;
  void DoBeginWriting(const std::vector<std::string>& tablesTakingIds) override;
  void DoCommit() override;
  void DoRollback() override;
  bool HasTransactionToRollBack() const override;
  void SchemaChanged() override;
  std::string Placeholder(int n) const override;
  const char* RowIdentity() const override { return "rowid"; }
  const std::vector<std::string>& PrimaryKey(const std::string& table) override;
  eKvDbServerType NativeServerType() const override { return kvDbServerSQLite; }

  // Raises the CKvDbException for resultCode with the handle's message.
  [[noreturn]] void Raise(int resultCode) const { RaiseFor(m_db, resultCode); }
  [[noreturn]] static void RaiseFor(sqlite3* db, int resultCode);

  // A reader handle for one cursor, back to the pool when it is done.
  // Inside a shared snapshot it reads in the snapshot's transaction.
  sqlite3* AcquireReader();
  void ReleaseReader(sqlite3* reader);
  void DoEndSharedSnapshot() noexcept override { LeaveSnapshot(); }

  // A statement a cursor took with a cache key comes back here when the
  // cursor is done with it.
  void ReturnStatement(sqlite3* db, const std::string& key, sqlite3_stmt* stmt);

 private:
  sqlite3* OpenHandle();
  // Refuses to write when the database file was deleted or replaced since
  // it was opened: SQLite would go on writing into the unlinked file, and
  // every save would report a success nobody can ever read.
  void CheckFileIdentity() const;
  // Ends the shared snapshot's read transactions that no cursor uses now.
  void LeaveSnapshot() noexcept;
  // Every write first ends the shared snapshot, whose readers would not see it.
  void BeforeWriting();
  // Ends the read transaction a reader of a snapshot holds; a reader that
  // cannot end it is closed. Answers whether the reader is still open.
  bool EndReadTransaction(sqlite3* reader) noexcept;
  // Runs a statement without rows on db, prepared once per handle.
  void RunKept(sqlite3* db, const std::string& sql);
  void CloseHandle(sqlite3* db);
  void RunSimple(const char* sql);
  SqliteStatementCache& CacheOf(sqlite3* db);
  // A statement for the one-statement text sql on db, with its literals
  // bound to the statement of its shape, from the cache or newly prepared;
  // key receives the shape. Null when the text has no shape to reuse or
  // its shape does not prepare: then it runs as it is.
  sqlite3_stmt* ShapedStatement(sqlite3* db, const char* sql, std::string& key);
  void Bind(sqlite3_stmt* stmt, int index, const BoundValue& value);

  ConnectionSettings m_settings;
  sqlite3* m_db = nullptr;
  bool m_readersShareData = true;  // false for ":memory:", which is private to one handle
  unsigned long long m_fileDevice = 0, m_fileInode = 0;  // of the file when opened
  std::vector<sqlite3*> m_idleReaders;
  std::vector<sqlite3*> m_snapshotReaders;  // readers that began the shared snapshot's transaction
  std::unordered_map<sqlite3*, std::unique_ptr<SqliteStatementCache>> m_caches;
  PrimaryKeyCache m_primaryKeys;
};

}  // namespace kvdbal
