// A streaming ODBC query: each step is one SQLFetch; values of the current
// row are read with SQLGetData only when asked for, in pieces however long
// they are, and kept until the cursor moves (a driver hands out each value
// once, and columns in order). A restart runs the query again.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "OdbcConnection.h"

namespace kvdbal::odbc {

// Column description from an ODBC SQL type and its size.
ColumnInfo ClassifyOdbcType(SQLSMALLINT sqlType, SQLULEN columnSize);

class OdbcCursor final : public Cursor {
 public:
  // reader: the link the query runs on, returned to the connection's pool
  // at the end; null to run on the connection's own link.
  OdbcCursor(std::shared_ptr<OdbcConnection> connection, std::unique_ptr<Link> reader, std::string sql);
  ~OdbcCursor() override;

  int ColumnCount() const override { return static_cast<int>(m_columns.size()); }
  const ColumnInfo& Column(int index) override { return m_columns[index].info; }
  const std::string& ColumnName(int index) override { return m_columns[index].name; }
  long long Advance(long long n) override;
  void Restart() override;
  void ReadValue(int index, VARIANT* out) override;
  long ReadLong(int index) override;
  std::string ReadString(int index) override;

 private:
  struct Described {
    ColumnInfo info;
    std::string name;
    SQLSMALLINT sqlType = 0;
  };
  // A value of the current row as read from the driver.
  struct Cell {
    bool null = false;
    long long integer = 0;
    double real = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
    std::string bytes;  // text as UTF-8, or binary
  };

  Link& OwnLink();
  // Runs the query: all of it, or the window of size rows from offset.
  void Run(long long offset = 0, long long size = 0);
  // The rows of the whole result, counted by the server.
  long long CountRows();
  // Runs the query (with window after it) as the statement the link keeps
  // for its shape, the literals bound; false when it has none (the text
  // then runs as it is).
  bool RunShaped(Link& link, const std::string& window);
  // Ends the snapshot transaction of a windowed reader, if one is open.
  void EndSnapshot();
  void Describe();
  void Close();
  // The cell of column index in the current row, read on first use (and
  // every column before it, which the driver can no longer give later).
  const Cell& CellAt(int index);
  void ReadCell(int index, Cell& cell);
  void ReadPieces(int index, SQLSMALLINT cType, Cell& cell);

  std::shared_ptr<OdbcConnection> m_connection;
  std::unique_ptr<Link> m_reader;
  std::string m_sql;
  // The statement of the query: one of its own, or one the link keeps
  // prepared for the query's shape.
  Handle m_ownStatement;
  SQLHSTMT m_stmt = SQL_NULL_HANDLE;
  std::string m_shapeKey;  // of the kept statement
  // The literals bound to a kept statement.
  std::vector<long long> m_integers;
  std::vector<WideString> m_texts;
  std::vector<SQLLEN> m_indicators;
  unsigned long m_generation = 0;  // of the link the statement lives on
  bool m_open = false;             // a result is there to fetch from
  // A windowed query: the window open starts at row m_offset (0-based) and
  // asked for m_windowSize rows, of which m_inWindow were fetched.
  bool m_windowed = false;
  long long m_offset = 0;
  long long m_windowSize = 0;
  long long m_inWindow = 0;
  bool m_lastWindow = false;  // no rows follow the open window
  bool m_snapshot = false;
  std::vector<Described> m_columns;
  std::vector<Cell> m_cells;
  int m_cellsRead = 0;  // cells of the current row read so far, in column order
};

}  // namespace kvdbal::odbc
