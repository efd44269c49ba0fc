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

class EngineConnection : public std::enable_shared_from_this<EngineConnection> {
 public:
  virtual ~EngineConnection() = default;

  // sql is a NUL-terminated text of one statement.
  virtual std::unique_ptr<Cursor> OpenCursor(const char* sql) = 0;
  // Runs every statement of sql; returns the rows they changed.
  virtual long Execute(const std::string& sql) = 0;
  // Runs one statement whose placeholders (see Placeholder) take params.
  virtual long ExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) = 0;
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  // The text of the nth (1-based) parameter placeholder.
  virtual std::string Placeholder(int n) const = 0;
  // The hidden column that identifies a row of any table.
  virtual const char* RowIdentity() const = 0;
  // Primary key columns of table, in key order; empty when it has none.
  virtual const std::vector<std::string>& PrimaryKey(const std::string& table) = 0;

  virtual eKvDbServerType NativeServerType() const = 0;
  eKvDbServerType ServerType() const {
    return m_serverTypeOverride >= 0 ? static_cast<eKvDbServerType>(m_serverTypeOverride)
                                     : NativeServerType();
  }
  void OverrideServerType(int serverType) { m_serverTypeOverride = serverType; }

 private:
  int m_serverTypeOverride = -1;
};

// Opens the engine a connection string names; raises CKvDbException.
std::shared_ptr<EngineConnection> OpenEngine(const std::string& connectionString);

}  // namespace kvdbal
