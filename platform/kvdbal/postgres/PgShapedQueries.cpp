// Queries run as statements prepared by their shape. A cursor costs the
// server a DECLARE, a FETCH and later a CLOSE for every query, and a cursor
// cannot stand over a prepared statement; a query that gives few rows gets
// its whole result from one execution of a prepared statement instead, with
// the literals of its text bound.
#include <cstdint>

#include "../ValueText.h"
#include "PgConnection.h"

namespace kvdbal {
namespace {

// The type the server gives the literal where it stands in the text: an
// integer is int4 when it fits, else int8; a quoted literal's type comes
// from where it stands, as "unknown" asks for.
const char* ServerTypeOf(const ShapeLiteral& literal) {
  if (literal.kind == ShapeLiteral::Kind::Text) return "unknown";
  return FitsLong(literal.integer) ? "int4" : "int8";
}

bool IsStalePlan(const PGresult* result) {
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  return state && std::string_view(state) == "0A000";  // cached plan must not change result type
}

}  // namespace

PgResult PgConnection::RunShapedQuery(const std::string& sql, int batchRows, std::string* learnShape,
                                      bool* knownMany) {
  learnShape->clear();
  *knownMany = false;
  if (m_preparedLimit == 0) return nullptr;
  ReadyForStatement();
  // A failed transaction takes no statement; the cursor's text fails as
  // any would.
  if (PQtransactionStatus(m_conn) == PQTRANS_INERROR) return nullptr;
  if (!m_staleStatements.empty()) DropStaleStatements();
  std::optional<LiteralShape> shape = ShapeOf(sql, [this](int n) { return Placeholder(n); });
  if (!shape) return nullptr;
  // One shape with literals of other types is another statement: the
  // server reads 5 and '5' differently.
  std::string types;
  for (const ShapeLiteral& literal : shape->literals) {
    if (!types.empty()) types += ", ";
    types += ServerTypeOf(literal);
  }
  std::string key = types + ":" + shape->text;
  auto found = m_queryShapes.find(key);
  if (found == m_queryShapes.end()) {
    // Beyond that many, too many shapes to count.
    if (m_queryShapes.size() < 4 * m_preparedLimit) *learnShape = std::move(key);
    return nullptr;
  }
  QueryShapeUse& use = found->second;
  *knownMany = use.manyRows;
  if (use.manyRows || use.unpreparable) return nullptr;
  if (use.name.empty() && !PrepareShape(*shape, types, batchRows, use)) return nullptr;
  PgResult rows = ExecuteShape(*shape, use);
  if (PgFailed(rows.get()) && IsStalePlan(rows.get())) {
    // A table under the statement changed its columns. Outside a
    // transaction the statement is made again and runs once more; inside,
    // the transaction has failed with it, and the next use prepares anew.
    m_staleStatements.push_back(std::move(use.name));
    use.name.clear();
    if (!InTransaction()) {
      DropStaleStatements();
      if (!PrepareShape(*shape, types, batchRows, use)) return nullptr;
      rows = ExecuteShape(*shape, use);
    }
  }
  if (PgFailed(rows.get())) Raise(rows.get());
  if (PQntuples(rows.get()) <= batchRows) return rows;
  use.manyRows = *knownMany = true;
  return nullptr;
}

void PgConnection::NoteShapeRows(const std::string& shape, bool filledBatch) {
  m_queryShapes[shape].manyRows = filledBatch;
}

void PgConnection::DropStaleStatements() {
  std::string text;
  for (const std::string& name : m_staleStatements) text += "DEALLOCATE " + name + ";\n";
  m_preparedCount -= m_staleStatements.size();
  m_staleStatements.clear();  // a failure here is not tried again
  RunEvery(text, false);
}

bool PgConnection::PrepareShape(const LiteralShape& shape, const std::string& types, int batchRows,
                                QueryShapeUse& use) {
  if (m_preparedCount >= m_preparedLimit) return false;
  const std::string name = "kvdbal_q" + std::to_string(++m_statementNumber);
  // The line breaks keep a trailing line comment of the query from taking
  // the closing parenthesis along.
  std::string text = "PREPARE " + name + (types.empty() ? "" : " (" + types + ")") +
                     " AS SELECT * FROM (\n" + shape.text + "\n) AS kvdbal_q LIMIT " +
                     std::to_string(batchRows + 1);
  // The text ran as it stands already; its shape may still not prepare (a
  // parameter whose type the server cannot tell). In a transaction a
  // savepoint keeps that failure from ending it.
  const bool inTransaction = InTransaction();
  if (inTransaction) text = "SAVEPOINT kvdbal_prepare; " + text + "; RELEASE SAVEPOINT kvdbal_prepare";
  try {
    RunEvery(text, false);
  } catch (const CKvDbException&) {
    if (PQstatus(m_conn) == CONNECTION_BAD) throw;
    if (inTransaction)
      RunEvery("ROLLBACK TO SAVEPOINT kvdbal_prepare; RELEASE SAVEPOINT kvdbal_prepare", false);
    use.unpreparable = true;
    return false;
  }
  ++m_preparedCount;
  use.name = name;
  return true;
}

PgResult PgConnection::ExecuteShape(const LiteralShape& shape, const QueryShapeUse& use) {
  std::vector<std::string> texts;
  texts.reserve(shape.literals.size());
  for (const ShapeLiteral& literal : shape.literals)
    texts.push_back(literal.kind == ShapeLiteral::Kind::Text ? literal.text : std::to_string(literal.integer));
  std::vector<const char*> values;
  values.reserve(texts.size());
  for (const std::string& text : texts) values.push_back(text.c_str());
  return PgResult(PQexecPrepared(m_conn, use.name.c_str(), static_cast<int>(values.size()), values.data(),
                                 nullptr, nullptr, 0));
}

}  // namespace kvdbal
