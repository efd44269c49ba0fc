#include "OdbcCursor.h"

#include <cctype>

#include "../../com/OleAuto.h"
#include "../LiteralShape.h"
#include "../SqlText.h"
#include "../ValueText.h"

namespace kvdbal::odbc {
namespace {

constexpr SQLLEN kPieceBytes = 16 * 1024;
// Rows of the first window of a query, and at most of any: reading on, each
// window is twice the one before.
constexpr long long kFirstWindow = 200;
constexpr long long kLargestWindow = 3200;

std::string WithoutTrailingSemicolons(std::string sql) {
  while (!sql.empty() && (sql.back() == ';' || std::isspace(static_cast<unsigned char>(sql.back())))) sql.pop_back();
  return sql;
}

DATE DateOf(const SQL_TIMESTAMP_STRUCT& t, bool* ok) {
  KvDateParts p{};
  p.year = t.year;
  p.month = t.month;
  p.day = t.day;
  p.hour = t.hour;
  p.minute = t.minute;
  p.second = t.second;
  DATE date = 0;
  *ok = DateFromParts(p, &date);
  return date;
}

}  // namespace

ColumnInfo ClassifyOdbcType(SQLSMALLINT sqlType, SQLULEN columnSize) {
  ColumnInfo info;
  switch (sqlType) {
    case SQL_SMALLINT:
    case SQL_TINYINT:
      info.kind = ValueKind::SmallInt;
      break;
    case SQL_INTEGER:
    case SQL_BIGINT:
      info.kind = ValueKind::Integer;
      break;
    case SQL_BIT:
      info.kind = ValueKind::Boolean;
      break;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      info.kind = ValueKind::Real;
      break;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
    case SQL_TIMESTAMP:
      info.kind = ValueKind::Date;
      break;
    case SQL_LONGVARBINARY:
      info.kind = ValueKind::Binary;
      info.isLong = true;
      break;
    case SQL_BINARY:
    case SQL_VARBINARY:
      info.kind = ValueKind::Binary;
      info.isLong = columnSize == 0 || columnSize > 65535;
      break;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      info.kind = ValueKind::Text;
      info.isLong = true;
      break;
    default:  // char, varchar, time, guid, ... come out as their text
      info.kind = ValueKind::Text;
      break;
  }
  return info;
}

OdbcCursor::OdbcCursor(std::shared_ptr<OdbcConnection> connection, std::unique_ptr<Link> reader, std::string sql)
    : m_connection(std::move(connection)), m_reader(std::move(reader)), m_sql(std::move(sql)) {
  m_windowed = m_reader && m_connection->Traits().readsInWindows && TakesALimit(m_sql);
  if (m_windowed) m_sql = WithoutTrailingSemicolons(std::move(m_sql));
  try {
    try {
      Run(0, kFirstWindow);
    } catch (const CKvDbException&) {
      // A pooled reader whose session ended while it waited connects again.
      if (!m_reader || !m_reader->Lost()) throw;
      Close();
      Run(0, kFirstWindow);
    }
    Describe();
  } catch (...) {
    Close();
    if (m_reader) m_connection->ReleaseReader(std::move(m_reader));
    throw;
  }
}

OdbcCursor::~OdbcCursor() {
  Close();
  EndSnapshot();
  if (m_reader) m_connection->ReleaseReader(std::move(m_reader));
}

void OdbcCursor::EndSnapshot() {
  if (!m_snapshot) return;
  m_snapshot = false;
  try {
    m_reader->Run("COMMIT");
  } catch (const CKvDbException&) {
    // A reader whose COMMIT failed has lost its connection, and with it
    // the transaction; it is not pooled again.
  }
}

long long OdbcCursor::CountRows() {
  Link& link = OwnLink();
  Handle statement = link.NewStatement();
  // The line break keeps a trailing line comment from taking the rest.
  WideString text = Wide("SELECT COUNT(*) FROM (" + m_sql + "\n) kvdbal_rows");
  link.Check(SQLExecDirectW(statement.Get(), text.data(), static_cast<SQLINTEGER>(text.size())), SQL_HANDLE_STMT,
             statement.Get());
  long long count = 0;
  SQLLEN length = 0;
  link.Check(SQLFetch(statement.Get()), SQL_HANDLE_STMT, statement.Get());
  link.Check(SQLGetData(statement.Get(), 1, SQL_C_SBIGINT, &count, 0, &length), SQL_HANDLE_STMT, statement.Get());
  return count;
}

Link& OdbcCursor::OwnLink() { return m_reader ? *m_reader : m_connection->MainLink(); }

void OdbcCursor::Close() {
  if (!m_stmt) return;
  m_open = false;
  SQLHSTMT statement = m_stmt;
  m_stmt = SQL_NULL_HANDLE;
  // A statement on a link connected anew went with the old connection.
  if (OwnLink().Generation() != m_generation || OwnLink().Lost()) {
    m_ownStatement.Release();
    return;
  }
  if (m_ownStatement) {
    m_ownStatement.Reset();
    return;
  }
  // A kept statement stays prepared for the next query of its shape.
  SQLFreeStmt(statement, SQL_CLOSE);
  SQLFreeStmt(statement, SQL_RESET_PARAMS);
  OwnLink().ReturnShape(m_shapeKey);
}

bool OdbcCursor::RunShaped(Link& link, const std::string& window) {
  const int limit = m_connection->StatementCacheSize();
  if (limit <= 0 || !m_connection->Traits().keepsQueryShapes) return false;
  std::optional<LiteralShape> shape = ShapeOf(m_sql, [](int) { return std::string("?"); });
  if (!shape) return false;
  shape->text += window;
  SQLHSTMT statement = link.BorrowShape(shape->text, static_cast<size_t>(limit));
  if (!statement) return false;
  // The literals, bound where the shape has its marks; the buffers live
  // until the statement is executed.
  m_integers.assign(shape->literals.size(), 0);
  m_texts.assign(shape->literals.size(), WideString());
  m_indicators.assign(shape->literals.size(), 0);
  for (size_t i = 0; i < shape->literals.size(); ++i) {
    const ShapeLiteral& literal = shape->literals[i];
    const SQLUSMALLINT number = static_cast<SQLUSMALLINT>(i + 1);
    SQLRETURN rc;
    if (literal.kind == ShapeLiteral::Kind::Integer) {
      m_integers[i] = literal.integer;
      rc = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &m_integers[i], 0,
                            &m_indicators[i]);
    } else {
      m_texts[i] = Wide(literal.text);
      m_indicators[i] = static_cast<SQLLEN>(m_texts[i].size() * sizeof(SQLWCHAR));
      rc = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                            std::max<size_t>(1, m_texts[i].size()), 0, m_texts[i].data(), m_indicators[i],
                            &m_indicators[i]);
    }
    if (!SQL_SUCCEEDED(rc)) {
      SQLFreeStmt(statement, SQL_RESET_PARAMS);
      link.ReturnShape(shape->text);
      return false;
    }
  }
  SQLRETURN rc = SQLExecute(statement);
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    // A kept statement may describe a table another connection has
    // changed since; it goes, and the text runs as it is, failing, if it
    // does, with its own message.
    ReadDiagnostic(SQL_HANDLE_STMT, statement);
    link.ForgetShape(shape->text);
    return false;
  }
  m_stmt = statement;
  m_shapeKey = std::move(shape->text);
  return true;
}

void OdbcCursor::Run(long long offset, long long size) {
  Link& link = OwnLink();
  if (m_reader && !m_snapshot) link.Revive();
  // Past the first window, the rest of the result is read from one
  // snapshot: rows another connection writes meanwhile shift no window.
  if (m_windowed && offset > 0 && !m_snapshot) {
    link.Run(SnapshotStart(m_connection->Traits().family));
    m_snapshot = true;
  }
  m_generation = link.Generation();
  m_offset = offset;
  m_windowSize = size;
  m_inWindow = 0;
  // The line break keeps a trailing line comment from taking the LIMIT.
  const std::string window =
      m_windowed ? "\nLIMIT " + std::to_string(size) + " OFFSET " + std::to_string(offset) : std::string();
  // The first window is kept prepared with its query; the window's numbers
  // stay in the text, where the server plans with them (a LIMIT given as a
  // parameter may cost a sort of the whole table).
  if (!((!m_windowed || offset == 0) && RunShaped(link, window))) {
    const std::string text = m_sql + window;
    m_ownStatement = link.NewStatement();
    m_stmt = m_ownStatement.Get();
    WideString wide = Wide(text);
    SQLRETURN rc = SQLExecDirectW(m_stmt, wide.data(), static_cast<SQLINTEGER>(wide.size()));
    link.Check(rc, SQL_HANDLE_STMT, m_stmt);
  }
  SQLSMALLINT columns = 0;
  SQLNumResultCols(m_stmt, &columns);
  m_open = columns > 0;
  m_cellsRead = 0;
  // A window the driver holds whole tells its rows: one short of its size
  // is the last, and a move past its end needs no further window.
  SQLLEN rows = -1;
  m_lastWindow = m_windowed && SQL_SUCCEEDED(SQLRowCount(m_stmt, &rows)) && rows >= 0 && rows < size;
}

void OdbcCursor::Describe() {
  SQLSMALLINT count = 0;
  SQLNumResultCols(m_stmt, &count);
  m_columns.resize(count);
  m_cells.resize(count);
  for (SQLSMALLINT i = 0; i < count; ++i) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    OwnLink().Check(SQLDescribeColW(m_stmt, static_cast<SQLUSMALLINT>(i + 1), name, 256, &nameLength,
                                    &sqlType, &size, &digits, &nullable),
                    SQL_HANDLE_STMT, m_stmt);
    m_columns[i].name = Narrow(name, std::min<size_t>(nameLength, 255));
    m_columns[i].sqlType = sqlType;
    m_columns[i].info = ClassifyOdbcType(sqlType, size);
  }
}

long long OdbcCursor::Advance(long long n) {
  m_cellsRead = 0;
  long long landed = 0;
  try {
    while (landed < n) {
      if (!m_open) return landed;
      const long long need = n - landed;
      if (m_windowed && need > 1 && m_inWindow + need > m_windowSize && !m_lastWindow) {
        // The row to land on lies beyond this window: the window that
        // starts with it is read instead, the rows between never leave the
        // server.
        const long long next = m_offset + m_inWindow;  // the row a fetch would give
        Close();
        Run(next + need - 1, kFirstWindow);
        SQLRETURN rc = SQLFetch(m_stmt);
        if (SQL_SUCCEEDED(rc)) {
          m_inWindow = 1;
          return n;
        }
        if (rc != SQL_NO_DATA) OwnLink().Raise(SQL_HANDLE_STMT, m_stmt);
        Close();
        const long long rows = CountRows();
        EndSnapshot();
        return landed + std::max(0LL, rows - next);
      }
      SQLRETURN rc = SQLFetch(m_stmt);
      if (SQL_SUCCEEDED(rc)) {
        ++landed;
        ++m_inWindow;
        continue;
      }
      if (rc != SQL_NO_DATA) OwnLink().Raise(SQL_HANDLE_STMT, m_stmt);
      // Closing at the end frees the server of the statement at once.
      Close();
      if (m_windowed && m_inWindow == m_windowSize && !m_lastWindow) {
        Run(m_offset + m_windowSize, std::min(m_windowSize * 2, kLargestWindow));
        continue;
      }
      // A rowset at its end keeps no transaction open; going back starts over.
      EndSnapshot();
      return landed;
    }
  } catch (...) {
    Close();
    throw;
  }
  return n;
}

void OdbcCursor::Restart() {
  Close();
  Run(0, kFirstWindow);
}

const OdbcCursor::Cell& OdbcCursor::CellAt(int index) {
  while (m_cellsRead <= index) {
    ReadCell(m_cellsRead, m_cells[m_cellsRead]);
    ++m_cellsRead;
  }
  return m_cells[index];
}

void OdbcCursor::ReadPieces(int index, SQLSMALLINT cType, Cell& cell) {
  Link& link = OwnLink();
  const SQLUSMALLINT column = static_cast<SQLUSMALLINT>(index + 1);
  if (cType == SQL_C_BINARY) {
    cell.bytes.clear();
    char buffer[kPieceBytes];
    for (;;) {
      SQLLEN length = 0;
      SQLRETURN rc = SQLGetData(m_stmt, column, SQL_C_BINARY, buffer, sizeof buffer, &length);
      if (rc == SQL_NO_DATA) break;
      link.Check(rc, SQL_HANDLE_STMT, m_stmt);
      if (length == SQL_NULL_DATA) {
        cell.null = true;
        return;
      }
      const size_t got = length == SQL_NO_TOTAL || length > kPieceBytes ? kPieceBytes : static_cast<size_t>(length);
      cell.bytes.append(buffer, got);
      if (rc == SQL_SUCCESS) break;
    }
    return;
  }
  WideString text;
  SQLWCHAR buffer[kPieceBytes / sizeof(SQLWCHAR)];
  for (;;) {
    SQLLEN length = 0;
    SQLRETURN rc = SQLGetData(m_stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &length);
    if (rc == SQL_NO_DATA) break;
    link.Check(rc, SQL_HANDLE_STMT, m_stmt);
    if (length == SQL_NULL_DATA) {
      cell.null = true;
      return;
    }
    // Each piece ends in a terminating NUL the driver added.
    const SQLLEN room = static_cast<SQLLEN>(sizeof buffer) - static_cast<SQLLEN>(sizeof(SQLWCHAR));
    const SQLLEN got = length == SQL_NO_TOTAL || length > room ? room : length;
    text.append(buffer, static_cast<size_t>(got) / sizeof(SQLWCHAR));
    if (rc == SQL_SUCCESS) break;
  }
  cell.bytes = Narrow(text.data(), text.size());
}

void OdbcCursor::ReadCell(int index, Cell& cell) {
  cell.null = false;
  Link& link = OwnLink();
  const SQLUSMALLINT column = static_cast<SQLUSMALLINT>(index + 1);
  SQLLEN length = 0;
  SQLRETURN rc = SQL_SUCCESS;
  switch (m_columns[index].info.kind) {
    case ValueKind::SmallInt:
    case ValueKind::Integer:
      rc = SQLGetData(m_stmt, column, SQL_C_SBIGINT, &cell.integer, 0, &length);
      break;
    case ValueKind::Boolean: {
      unsigned char bit = 0;
      rc = SQLGetData(m_stmt, column, SQL_C_BIT, &bit, 0, &length);
      cell.integer = bit;
      break;
    }
    case ValueKind::Real:
      rc = SQLGetData(m_stmt, column, SQL_C_DOUBLE, &cell.real, 0, &length);
      break;
    case ValueKind::Date:
      rc = SQLGetData(m_stmt, column, SQL_C_TYPE_TIMESTAMP, &cell.timestamp, sizeof cell.timestamp,
                      &length);
      break;
    case ValueKind::Binary:
      ReadPieces(index, SQL_C_BINARY, cell);
      return;
    case ValueKind::Text:
    case ValueKind::ByValue:
      ReadPieces(index, SQL_C_WCHAR, cell);
      return;
  }
  link.Check(rc, SQL_HANDLE_STMT, m_stmt);
  cell.null = length == SQL_NULL_DATA;
}

void OdbcCursor::ReadValue(int index, VARIANT* out) {
  const Cell& cell = CellAt(index);
  if (cell.null) {
    out->vt = VT_NULL;
    return;
  }
  const ValueKind kind = m_columns[index].info.kind;
  switch (kind) {
    case ValueKind::SmallInt:
    case ValueKind::Integer:
      SetIntegerVariant(cell.integer, kind == ValueKind::SmallInt, out);
      return;
    case ValueKind::Boolean:
      out->vt = VT_BOOL;
      out->boolVal = cell.integer ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case ValueKind::Real:
      out->vt = VT_R8;
      out->dblVal = cell.real;
      return;
    case ValueKind::Date: {
      bool ok = false;
      DATE date = DateOf(cell.timestamp, &ok);
      if (ok) {
        out->vt = VT_DATE;
        out->date = date;
        return;
      }
      out->vt = VT_NULL;
      return;
    }
    case ValueKind::Binary:
      SetBytesVariant(cell.bytes, out);
      return;
    case ValueKind::Text:
    case ValueKind::ByValue:
      SetTextVariant(cell.bytes, out);
      return;
  }
}

long OdbcCursor::ReadLong(int index) {
  const Cell& cell = CellAt(index);
  if (cell.null) return 0;
  const ValueKind kind = m_columns[index].info.kind;
  if (kind == ValueKind::Integer || kind == ValueKind::SmallInt) {
    return LongFromInteger(cell.integer);
  }
  CComVariant v;
  ReadValue(index, &v);
  return LongFromVariant(v);
}

std::string OdbcCursor::ReadString(int index) {
  const Cell& cell = CellAt(index);
  if (cell.null) return {};
  switch (m_columns[index].info.kind) {
    case ValueKind::SmallInt:
    case ValueKind::Integer:
      return std::to_string(cell.integer);
    case ValueKind::Boolean:
      return cell.integer ? "1" : "0";
    case ValueKind::Real:
      return PlainDecimal(cell.real);
    case ValueKind::Date: {
      CComVariant v;
      ReadValue(index, &v);
      return v.vt == VT_DATE ? DateToText(v.date) : std::string();
    }
    default:
      return cell.bytes;
  }
}

}  // namespace kvdbal::odbc
