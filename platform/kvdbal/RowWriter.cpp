#include "RowWriter.h"

#include "SqlText.h"

namespace kvdbal {
namespace {

BoundValue BoundFromPending(const PendingValue& p, ValueKind kind) {
  BoundValue b;
  b.kind = kind;
  if (p.chunked) {
    b.bytes = p.chunk;
    b.bytesAreText = p.chunkIsText;
  } else {
    b.variant = &p.value;
  }
  return b;
}

// The values that name the stored row, kept alive for the statement.
class IdentityValues {
 public:
  IdentityValues(Cursor& cursor, const std::vector<PendingValue>& pending, bool cursorRowCurrent)
      : m_cursor(cursor), m_pending(pending), m_cursorRowCurrent(cursorRowCurrent) {
    m_read.resize(pending.size());
  }
  BoundValue Get(int index) {
    const PendingValue& p = m_pending[index];
    ValueKind kind = m_cursor.Column(index).kind;
    if (p.set && !p.changed) return BoundFromPending(p, kind);
    CComVariant& v = m_read[index];
    if (m_cursorRowCurrent) {
      v.Clear();
      m_cursor.ReadValue(index, &v);
    } else {
      v = CComVariant::Null();
    }
    BoundValue b;
    b.kind = kind;
    b.variant = &v;
    return b;
  }

 private:
  Cursor& m_cursor;
  const std::vector<PendingValue>& m_pending;
  bool m_cursorRowCurrent;
  std::vector<CComVariant> m_read;  // sized once: BoundValues point into it
};

bool IsNullValue(const BoundValue& b) {
  return b.variant && (b.variant->vt == VT_NULL || b.variant->vt == VT_EMPTY);
}

int FindColumn(Cursor& cursor, const std::string& name) {
  for (int i = 0; i < cursor.ColumnCount(); ++i)
    if (EqualsIgnoringAsciiCase(cursor.ColumnName(i), name)) return i;
  return -1;
}

}  // namespace

void InsertRow(EngineConnection& engine, Cursor& cursor, const std::string& table,
               const std::vector<PendingValue>& pending) {
  std::string names, marks;
  std::vector<BoundValue> params;
  for (int i = 0; i < static_cast<int>(pending.size()); ++i) {
    if (!pending[i].changed) continue;
    if (!params.empty()) {
      names += ", ";
      marks += ", ";
    }
    names += cursor.ColumnName(i);
    params.push_back(BoundFromPending(pending[i], cursor.Column(i).kind));
    marks += engine.Placeholder(static_cast<int>(params.size()));
  }
  std::string sql = params.empty() ? "INSERT INTO " + table + " DEFAULT VALUES"
                                   : "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")";
  engine.ExecuteWithParams(sql, params);
}

void UpdateRow(EngineConnection& engine, Cursor& cursor, const std::string& table,
               const std::vector<PendingValue>& pending, bool cursorRowCurrent) {
  std::vector<BoundValue> params;
  std::string assignments;
  for (int i = 0; i < static_cast<int>(pending.size()); ++i) {
    if (!pending[i].changed) continue;
    if (!params.empty()) assignments += ", ";
    params.push_back(BoundFromPending(pending[i], cursor.Column(i).kind));
    assignments += cursor.ColumnName(i) + " = " + engine.Placeholder(static_cast<int>(params.size()));
  }
  if (params.empty()) return;

  IdentityValues identity(cursor, pending, cursorRowCurrent);
  std::vector<int> keyColumns;
  for (const std::string& key : engine.PrimaryKey(table)) {
    int index = FindColumn(cursor, key);
    if (index < 0) {
      keyColumns.clear();
      break;
    }
    keyColumns.push_back(index);
  }
  std::string where;
  auto addCondition = [&](int index) {
    if (!where.empty()) where += " AND ";
    BoundValue b = identity.Get(index);
    if (IsNullValue(b)) {
      where += cursor.ColumnName(index) + " IS NULL";
    } else {
      params.push_back(b);
      where += cursor.ColumnName(index) + " = " + engine.Placeholder(static_cast<int>(params.size()));
    }
  };
  std::string sql;
  if (!keyColumns.empty()) {
    for (int index : keyColumns) addCondition(index);
    sql = "UPDATE " + table + " SET " + assignments + " WHERE " + where;
  } else {
    for (int i = 0; i < cursor.ColumnCount(); ++i)
      if (!cursor.Column(i).isLong) addCondition(i);
    if (where.empty())
      throw CKvDbException(KVDB_E_NOTSUPPORTED,
                           "the row of " + table + " has no key and no column that can identify it");
    sql = engine.UpdateFirstMatch(table, assignments, where);
  }
  if (engine.ExecuteWithParams(sql, params) == 0)
    throw CKvDbException(KVDB_E_COLLISION_CHANGED,
                         "the row of " + table + " was changed or deleted by another");
}

}  // namespace kvdbal
