// The backend side of the access layer. Each database engine implements an
// EngineConnection and a Cursor; everything above them (navigation, fields,
// writing rows, the COM session object) is engine-neutral.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "KvDbal.h"
#include "SqlText.h"
#include "StatementObserver.h"

namespace kvdbal {

// How a column's values come out as VARIANTs. ByValue: the column has no
// declared type (an expression such as MAX(lid)), so each value maps by what
// it holds.
enum class ValueKind : uint8_t { ByValue, SmallInt, Integer, Boolean, Real, Text, Date, Binary };

struct ColumnInfo {
  ValueKind kind = ValueKind::ByValue;
  bool isLong = false;  // text or binary of unbounded length
};

// One value handed to a generated statement: either a VARIANT, or bytes
// collected by AppendChunk (text or binary). kind is the target column's.
struct BoundValue {
  const VARIANT* variant = nullptr;
  std::string_view bytes;
  bool bytesAreText = true;
  ValueKind kind = ValueKind::ByValue;
};

// A running query. It stands before its first row when created; only the row
// it stands on is held, and stepping past rows never reads their values.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual int ColumnCount() const = 0;
  virtual const ColumnInfo& Column(int index) = 0;
  virtual const std::string& ColumnName(int index) = 0;
  // Steps forward n rows (n >= 1) and returns how many rows it landed on:
  // n while a row is current, fewer when the result ended on the way.
  virtual long long Advance(long long n) = 0;
  // Back before the first row; the query runs again.
  virtual void Restart() = 0;

  // Reads of the current row. ReadLong gives 0 for NULL, ReadString "".
  virtual void ReadValue(int index, VARIANT* out) = 0;
  virtual long ReadLong(int index) = 0;
  virtual std::string ReadString(int index) = 0;
};

// The entry points every caller uses pass each statement text to the
// statement observer and let the engine forget what a schema change makes
// stale; an engine implements the Do* side, which wrappers forward to.
class EngineConnection : public std::enable_shared_from_this<EngineConnection> {
 public:
  virtual ~EngineConnection() = default;

  // sql is a NUL-terminated text of one statement.
  std::unique_ptr<Cursor> OpenCursor(const char* sql) {
    NotifyStatement(sql);
    return DoOpenCursor(sql);
  }
  // Runs every statement of sql; returns the rows they changed.
  long Execute(const std::string& sql) {
    NotifyStatement(sql);
    if (ChangesSchema(sql)) SchemaChanged();
    return DoExecute(sql);
  }
  // Runs one statement whose placeholders (see Placeholder) take params.
  long ExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) {
    NotifyStatement(sql);
    return DoExecuteWithParams(sql, params);
  }
  void Begin() {
    NotifyStatement("BEGIN");
    DoBegin();
  }
  // Begins a transaction that is going to write, and in which new ids of
  // tablesTakingIds are read as their MAX(lid)+1. Where the connection was
  // opened with savelock=table, writers that begin this way wait for each
  // other until the id is written and committed, so they rarely pick the
  // same one; a wait that runs out raises a collision code and leaves no
  // transaction open. Otherwise it is Begin: nothing is locked and the keys
  // refuse a duplicate id.
  void BeginWriting(const std::vector<std::string>& tablesTakingIds) {
    if (m_saveLock) {
      DoBeginWriting(tablesTakingIds);
    } else {
      Begin();
    }
  }
  void Commit() {
    NotifyStatement("COMMIT");
    DoCommit();
  }
  // A transaction that has ended already (a failed statement, a lost
  // connection) is not rolled back again.
  void Rollback() {
    if (HasTransactionToRollBack()) NotifyStatement("ROLLBACK");
    DoRollback();
  }

  // Queries outside a transaction between BeginSharedSnapshot and the
  // matching EndSharedSnapshot may all read one snapshot of the database,
  // which saves an engine that begins a read transaction for every query
  // all of them but one. A write on the connection ends the snapshot, so
  // the queries after it see what it wrote. Calls nest.
  void BeginSharedSnapshot() {
    if (m_snapshotDepth++ == 0) DoBeginSharedSnapshot();
  }
  void EndSharedSnapshot() noexcept {
    if (m_snapshotDepth > 0 && --m_snapshotDepth == 0) DoEndSharedSnapshot();
  }
  bool InSharedSnapshot() const { return m_snapshotDepth > 0; }

  virtual std::unique_ptr<Cursor> DoOpenCursor(const char* sql) = 0;
  virtual long DoExecute(const std::string& sql) = 0;
  virtual long DoExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) = 0;
  virtual void DoBegin() = 0;
  // An engine with no lock of its own for this begins a plain transaction.
  virtual void DoBeginWriting(const std::vector<std::string>& tablesTakingIds) {
    (void)tablesTakingIds;
    Begin();
  }
  virtual void DoCommit() = 0;
  virtual void DoRollback() = 0;
  virtual bool HasTransactionToRollBack() const = 0;
  // A CREATE, DROP or ALTER is about to run: facts kept about tables go.
  virtual void SchemaChanged() = 0;

  // The text of the nth (1-based) parameter placeholder.
  virtual std::string Placeholder(int n) const = 0;
  // The hidden column that identifies a row of any table; null when the
  // server has none (UpdateFirstMatch then says how to reach one row).
  virtual const char* RowIdentity() const = 0;
  // An UPDATE of table that sets assignments on the first row where
  // matches, for a table without a primary key.
  virtual std::string UpdateFirstMatch(const std::string& table, const std::string& assignments,
                                       const std::string& where) const {
    const std::string id = RowIdentity();
    return "UPDATE " + table + " SET " + assignments + " WHERE " + id + " = (SELECT " + id + " FROM " +
           table + " WHERE " + where + " LIMIT 1)";
  }
  // Primary key columns of table, in key order; empty when it has none.
  virtual const std::vector<std::string>& PrimaryKey(const std::string& table) = 0;

  // An engine without a read transaction per query has nothing to do here.
  virtual void DoBeginSharedSnapshot() {}
  virtual void DoEndSharedSnapshot() noexcept {}

  virtual eKvDbServerType NativeServerType() const = 0;
  eKvDbServerType ServerType() const {
    return m_serverTypeOverride >= 0 ? static_cast<eKvDbServerType>(m_serverTypeOverride)
                                     : NativeServerType();
  }
  void OverrideServerType(int serverType) { m_serverTypeOverride = serverType; }
  void LockTablesForSaves(bool on) { m_saveLock = on; }

 private:
  int m_serverTypeOverride = -1;
  int m_snapshotDepth = 0;
  bool m_saveLock = false;
};

// Opens the engine a connection string names; raises CKvDbException.
std::shared_ptr<EngineConnection> OpenEngine(const std::string& connectionString);

}  // namespace kvdbal
