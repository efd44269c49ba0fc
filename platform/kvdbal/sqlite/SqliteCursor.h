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
  // reader: the statement runs on a pooled reader handle, not the
  // connection's own. cacheKey: the shape the statement goes back to the
  // handle's cache under; empty: it is finalized.
  SqliteCursor(std::shared_ptr<SqliteConnection> connection, sqlite3* db, bool reader,
               sqlite3_stmt* statement, std::string cacheKey);
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
  // Takes the statement's columns as they are now.
  void Describe();

  std::shared_ptr<SqliteConnection> m_connection;  // keeps the handles open while the cursor lives
  sqlite3* m_db;
  bool m_reader;
  sqlite3_stmt* m_statement;
  std::string m_cacheKey;
  // A kept statement prepared before a schema change is prepared again by
  // its first step; its columns are then described anew.
  int m_reprepares;
  int m_columnCount = 0;
  // Described on first use: a wide SELECT * read by one column pays for one.
  struct DescribedColumn {
    ColumnInfo info;
    bool described = false;
  };
  static constexpr int kInlineColumns = 16;
  DescribedColumn m_inlineColumns[kInlineColumns];
  std::vector<DescribedColumn> m_moreColumns;  // for wider results
  DescribedColumn* m_columns = nullptr;
  std::vector<std::string> m_names;
};

}  // namespace kvdbal
