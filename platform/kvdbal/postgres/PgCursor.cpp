#include "PgCursor.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "../SqlText.h"
#include "../ValueText.h"

namespace kvdbal {
namespace {

// Rows per FETCH: few enough to keep the client small, enough to make a
// round trip worth it.
constexpr int kBatchRows = 200;

// Only queries can stand behind a cursor; other statements run plainly.
bool IsQuery(std::string_view sql) {
  size_t i = sql.find_first_not_of(" \t\r\n(");
  if (i == std::string_view::npos) return false;
  sql.remove_prefix(i);
  for (std::string_view word : {"SELECT", "WITH", "VALUES", "TABLE"})
    if (sql.size() >= word.size() && EqualsIgnoringAsciiCase(sql.substr(0, word.size()), word) &&
        (sql.size() == word.size() || !IsAsciiAlnum(sql[word.size()])))
      return true;
  return false;
}

std::string WithoutTrailingSemicolons(std::string sql) {
  while (!sql.empty() && (sql.back() == ';' || std::isspace(static_cast<unsigned char>(sql.back()))))
    sql.pop_back();
  return sql;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// bytea arrives in hex output format: \x followed by two digits per byte.
std::string DecodeBytea(std::string_view text) {
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x') return std::string(text);
  std::string bytes;
  bytes.reserve((text.size() - 2) / 2);
  for (size_t i = 2; i + 1 < text.size(); i += 2) {
    int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) break;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

bool ParseInteger(std::string_view text, long long* out) {
  std::string copy(text);
  char* end = nullptr;
  errno = 0;
  *out = std::strtoll(copy.c_str(), &end, 10);
  return errno == 0 && end && *end == '\0' && !copy.empty();
}

}  // namespace

PgCursor::PgCursor(std::shared_ptr<PgConnection> connection, std::string sql)
    : m_connection(std::move(connection)), m_sql(WithoutTrailingSemicolons(std::move(sql))) {
  m_isQuery = IsQuery(m_sql);
  if (m_isQuery) {
    m_connection->Reading([this] { Open(); });
  } else {
    TakeBatch(m_connection->Run(m_sql));
    m_exhausted = true;
  }
  int fields = PQnfields(m_batch.get());
  m_columns.reserve(fields);
  m_names.reserve(fields);
  for (int i = 0; i < fields; ++i) {
    m_columns.push_back(ClassifyPgType(PQftype(m_batch.get(), i), PQfmod(m_batch.get(), i)));
    m_names.emplace_back(PQfname(m_batch.get(), i));
  }
}

PgCursor::~PgCursor() { CloseDeclared(); }

void PgCursor::CloseDeclared() {
  const bool declaredInTransaction = m_connection->ForgetCursor(this);
  if (!m_name.empty() && !m_dead) m_connection->CloseCursor(this, m_name, declaredInTransaction);
  m_name.clear();
}

void PgCursor::Open() {
  std::string learnShape;
  bool knownMany = false;
  if (PgResult rows = m_connection->RunShapedQuery(m_sql, kBatchRows, &learnShape, &knownMany)) {
    TakeBatch(std::move(rows));
    m_exhausted = true;
    return;
  }
  std::string name = m_connection->NextCursorName();
  // WITH HOLD keeps the cursor past the end of the transaction it was
  // declared in, so a rowset stays usable across commits.
  // The line break keeps a trailing line comment of the query from taking
  // the FETCH along.
  PgResult batch = m_connection->DeclareCursor(this, "DECLARE " + name + " NO SCROLL CURSOR WITH HOLD FOR " +
                                                           m_sql + "\n; FETCH FORWARD " +
                                                           std::to_string(kBatchRows) + " FROM " + name,
                                               knownMany);
  m_name = std::move(name);
  m_dead = false;
  if (m_connection->InTransaction()) m_connection->RegisterTransactionCursor(this);
  TakeBatch(std::move(batch));
  NoteEnd(m_rows < kBatchRows);
  if (!learnShape.empty()) m_connection->NoteShapeRows(learnShape, !m_exhausted);
}

void PgCursor::NoteEnd(bool exhausted) {
  m_exhausted = exhausted;
  if (exhausted) m_connection->CursorExhausted(this);
}

void PgCursor::TakeBatch(PgResult batch) {
  m_batch = std::move(batch);
  m_rows = PQntuples(m_batch.get());
  m_index = -1;
}

long long PgCursor::MoveForward(long long count) {
  // The server takes counts that fit 32 bits; a longer way means to the end.
  std::string how = count > std::numeric_limits<int32_t>::max() ? "ALL" : std::to_string(count);
  PgResult moved = m_connection->RunInCursor(this, "MOVE FORWARD " + how + " IN " + m_name);
  long long done = 0;
  ParseInteger(PQcmdTuples(moved.get()), &done);
  return done;
}

long long PgCursor::Advance(long long n) {
  long long landed = 0;
  for (;;) {
    long long available = m_rows - 1 - m_index;  // rows after the current one in the batch
    long long need = n - landed;
    if (need <= available) {
      m_index += static_cast<int>(need);
      return n;
    }
    landed += available;
    m_index = m_rows;  // past the batch: no current row
    need -= available;
    if (m_exhausted) return landed;
    if (need > 1) {
      long long moved = MoveForward(need - 1);
      landed += moved;
      if (moved < need - 1) {
        NoteEnd(true);
        return landed;
      }
    }
    TakeBatch(m_connection->RunInCursor(this, "FETCH FORWARD " + std::to_string(kBatchRows) + " FROM " + m_name));
    NoteEnd(m_rows < kBatchRows);
    if (m_rows == 0) return landed;
  }
}

void PgCursor::Restart() {
  if (!m_isQuery) {  // a plain statement's result is all there is
    m_index = -1;
    return;
  }
  CloseDeclared();
  Open();
}

bool PgCursor::IsNull(int index) const { return PQgetisnull(m_batch.get(), m_index, index); }

std::string_view PgCursor::Text(int index) const {
  return std::string_view(PQgetvalue(m_batch.get(), m_index, index),
                          PQgetlength(m_batch.get(), m_index, index));
}

void PgCursor::ReadValue(int index, VARIANT* out) {
  if (IsNull(index)) {
    out->vt = VT_NULL;
    return;
  }
  std::string_view text = Text(index);
  switch (m_columns[index].kind) {
    case ValueKind::SmallInt:
    case ValueKind::Integer: {
      long long value = 0;
      if (ParseInteger(text, &value)) {
        SetIntegerVariant(value, m_columns[index].kind == ValueKind::SmallInt, out);
        return;
      }
      break;
    }
    case ValueKind::Boolean:
      out->vt = VT_BOOL;
      out->boolVal = !text.empty() && text[0] == 't' ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case ValueKind::Real:
      out->vt = VT_R8;
      out->dblVal = std::strtod(std::string(text).c_str(), nullptr);
      return;
    case ValueKind::Date: {
      DATE date;
      if (TextToDate(text, &date)) {
        out->vt = VT_DATE;
        out->date = date;
        return;
      }
      break;
    }
    case ValueKind::Binary:
      SetBytesVariant(DecodeBytea(text), out);
      return;
    case ValueKind::Text:
    case ValueKind::ByValue:
      break;
  }
  SetTextVariant(text, out);
}

long PgCursor::ReadLong(int index) {
  if (IsNull(index)) return 0;
  ValueKind kind = m_columns[index].kind;
  long long value = 0;
  if ((kind == ValueKind::Integer || kind == ValueKind::SmallInt) && ParseInteger(Text(index), &value)) {
    return LongFromInteger(value);
  }
  CComVariant v;
  ReadValue(index, &v);
  return LongFromVariant(v);
}

std::string PgCursor::ReadString(int index) {
  if (IsNull(index)) return {};
  std::string_view text = Text(index);
  switch (m_columns[index].kind) {
    case ValueKind::Boolean:
      return !text.empty() && text[0] == 't' ? "1" : "0";
    case ValueKind::Real:
      return PlainDecimal(std::strtod(std::string(text).c_str(), nullptr));
    case ValueKind::Binary:
      return DecodeBytea(text);
    default:
      return std::string(text);
  }
}

}  // namespace kvdbal
