#include "SqliteCursor.h"

#include <sqlite3.h>

#include <cmath>

#include "../ValueText.h"

namespace kvdbal {

SqliteCursor::SqliteCursor(std::shared_ptr<SqliteConnection> connection, sqlite3* db, bool reader,
                           sqlite3_stmt* statement, std::string cacheKey)
    : m_connection(std::move(connection)),
      m_db(db),
      m_reader(reader),
      m_statement(statement),
      m_cacheKey(std::move(cacheKey)),
      m_reprepares(sqlite3_stmt_status(statement, SQLITE_STMTSTATUS_REPREPARE, 0)) {
  Describe();
}

SqliteCursor::~SqliteCursor() {
  if (m_cacheKey.empty())
    sqlite3_finalize(m_statement);
  else
    m_connection->ReturnStatement(m_db, m_cacheKey, m_statement);
  if (m_reader) m_connection->ReleaseReader(m_db);
}

void SqliteCursor::Describe() {
  m_columnCount = sqlite3_column_count(m_statement);
  for (DescribedColumn& column : m_inlineColumns) column = DescribedColumn();
  m_moreColumns.assign(m_columnCount > kInlineColumns ? m_columnCount : 0, DescribedColumn());
  m_columns = m_columnCount > kInlineColumns ? m_moreColumns.data() : m_inlineColumns;
  m_names.clear();
}

const ColumnInfo& SqliteCursor::Column(int index) {
  DescribedColumn& column = m_columns[index];
  if (!column.described) {
    column.info = ClassifySqliteType(sqlite3_column_decltype(m_statement, index));
    column.described = true;
  }
  return column.info;
}

const std::string& SqliteCursor::ColumnName(int index) {
  if (m_names.empty()) {
    m_names.reserve(m_columnCount);
    for (int i = 0; i < m_columnCount; ++i) {
      const char* name = sqlite3_column_name(m_statement, i);
      m_names.emplace_back(name ? name : "");
    }
  }
  return m_names[index];
}

long long SqliteCursor::Advance(long long n) {
  for (long long landed = 0; landed < n; ++landed) {
    int rc = sqlite3_step(m_statement);
    const int reprepares = sqlite3_stmt_status(m_statement, SQLITE_STMTSTATUS_REPREPARE, 0);
    if (reprepares != m_reprepares) {
      m_reprepares = reprepares;
      Describe();
    }
    if (rc == SQLITE_ROW) continue;
    if (rc == SQLITE_DONE) {
      // Resetting at the end ends the statement's read transaction at once,
      // so an idle rowset at EOF holds no lock and no snapshot.
      sqlite3_reset(m_statement);
      return landed;
    }
    std::string message = sqlite3_errmsg(m_db);
    sqlite3_reset(m_statement);
    throw CKvDbException(SqliteResultToHresult(rc, message), message);
  }
  return n;
}

void SqliteCursor::Restart() { sqlite3_reset(m_statement); }

void SqliteCursor::ReadByStorage(int index, int storage, VARIANT* out) {
  switch (storage) {
    case SQLITE_INTEGER:
      SetIntegerVariant(sqlite3_column_int64(m_statement, index), false, out);
      break;
    case SQLITE_FLOAT:
      out->vt = VT_R8;
      out->dblVal = sqlite3_column_double(m_statement, index);
      break;
    case SQLITE_TEXT: {
      const char* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, index));
      SetTextVariant(std::string_view(text ? text : "", sqlite3_column_bytes(m_statement, index)), out);
      break;
    }
    case SQLITE_BLOB: {
      const char* bytes = static_cast<const char*>(sqlite3_column_blob(m_statement, index));
      SetBytesVariant(std::string_view(bytes ? bytes : "", sqlite3_column_bytes(m_statement, index)), out);
      break;
    }
    default:
      out->vt = VT_NULL;
  }
}

void SqliteCursor::ReadValue(int index, VARIANT* out) {
  int storage = sqlite3_column_type(m_statement, index);
  if (storage == SQLITE_NULL) {
    out->vt = VT_NULL;
    return;
  }
  bool numeric = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
  switch (Column(index).kind) {
    case ValueKind::SmallInt:
    case ValueKind::Integer:
      if (storage == SQLITE_INTEGER) {
        SetIntegerVariant(sqlite3_column_int64(m_statement, index),
                          Column(index).kind == ValueKind::SmallInt, out);
        return;
      }
      break;
    case ValueKind::Boolean:
      if (numeric) {
        out->vt = VT_BOOL;
        out->boolVal = sqlite3_column_double(m_statement, index) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        return;
      }
      break;
    case ValueKind::Real:
      if (numeric) {
        out->vt = VT_R8;
        out->dblVal = sqlite3_column_double(m_statement, index);
        return;
      }
      break;
    case ValueKind::Text:
      ReadByStorage(index, SQLITE_TEXT, out);
      return;
    case ValueKind::Date:
      if (storage == SQLITE_TEXT) {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, index));
        DATE date;
        if (TextToDate(text ? text : "", &date)) {
          out->vt = VT_DATE;
          out->date = date;
          return;
        }
      }
      break;
    case ValueKind::Binary:
      ReadByStorage(index, SQLITE_BLOB, out);
      return;
    case ValueKind::ByValue:
      break;
  }
  // A value that does not fit its declared type comes out as what it holds.
  ReadByStorage(index, storage, out);
}

long SqliteCursor::ReadLong(int index) {
  int storage = sqlite3_column_type(m_statement, index);
  if (storage == SQLITE_NULL) return 0;
  if (storage == SQLITE_INTEGER) {
    return LongFromInteger(sqlite3_column_int64(m_statement, index));
  }
  CComVariant v;
  ReadValue(index, &v);
  return LongFromVariant(v);
}

std::string SqliteCursor::ReadString(int index) {
  switch (sqlite3_column_type(m_statement, index)) {
    case SQLITE_NULL:
      return {};
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(m_statement, index));
    case SQLITE_FLOAT:
      return PlainDecimal(sqlite3_column_double(m_statement, index));
    default: {
      const char* bytes = static_cast<const char*>(sqlite3_column_blob(m_statement, index));
      return std::string(bytes ? bytes : "", sqlite3_column_bytes(m_statement, index));
    }
  }
}

}  // namespace kvdbal
