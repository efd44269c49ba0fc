// A streaming SQLite query: one prepared statement stepped as the rowset
// moves; a restart resets it and runs it again.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SqliteConnection.h"

namespace kvdbal {

class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(std::shared_ptr<SqliteConnection> connection, sqlite3_stmt* statement);
  ~SqliteCursor() override;

  int ColumnCount() const override { return m_columnCount; }
  const ColumnInfo& Column(int index) override;
  const std::string& ColumnName(int index) override;
  long long Advance(long long n) override;
  void Restart() override;
  void ReadValue(int index, VARIANT* out) override;
  long ReadLong(int index) override;
  std::string ReadString(int index) override;

 private:
  void ReadByStorage(int index, int storage, VARIANT* out);

  std::shared_ptr<SqliteConnection> m_connection;  // keeps the handle open while the cursor lives
  sqlite3_stmt* m_statement;
  int m_columnCount;
  // Described on first use: a wide SELECT * read by one column pays for one.
  std::vector<ColumnInfo> m_columns;
  std::vector<bool> m_described;
  std::vector<std::string> m_names;
};

}  // namespace kvdbal
