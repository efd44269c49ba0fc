// The SQLite backend: one sqlite3 handle per engine connection, opened in
// WAL mode with a short busy timeout so that a writer meeting another
// process's write lock fails quickly with a collision instead of hanging.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../ConnectionString.h"
#include "../Engine.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kvdbal {

std::shared_ptr<EngineConnection> OpenSqlite(const ConnectionSpec& spec);

// Column description from a declared column type (NULL for expressions).
ColumnInfo ClassifySqliteType(const char* declaredType);
// HRESULT for an SQLite result code (extended codes included) and its message.
HRESULT SqliteResultToHresult(int resultCode, std::string_view message);

class SqliteConnection final : public EngineConnection {
 public:
  explicit SqliteConnection(const ConnectionSpec& spec);
  ~SqliteConnection() override;

  std::unique_ptr<Cursor> OpenCursor(const std::string& sql) override;
  long Execute(const std::string& sql) override;
  long ExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) override;
  void Begin() override;
  void Commit() override;
  void Rollback() override;
  std::string Placeholder(int n) const override { return "?" + std::to_string(n); }
  const char* RowIdentity() const override { return "rowid"; }
  const std::vector<std::string>& PrimaryKey(const std::string& table) override;
  eKvDbServerType NativeServerType() const override { return kvDbServerSQLite; }

  sqlite3* Db() const { return m_db; }
  // Raises the CKvDbException for resultCode with the handle's message.
  [[noreturn]] void Raise(int resultCode) const;

 private:
  void RunSimple(const char* sql);
  void Bind(sqlite3_stmt* stmt, int index, const BoundValue& value);

  sqlite3* m_db = nullptr;
  std::unordered_map<std::string, std::vector<std::string>> m_primaryKeys;
};

}  // namespace kvdbal
