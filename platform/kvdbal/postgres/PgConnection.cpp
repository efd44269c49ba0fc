#include "PgConnection.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "../SqlText.h"
#include "../ValueText.h"
#include "PgCursor.h"

namespace kvdbal {
namespace {

constexpr size_t kMaxPendingCloses = 16;

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

// A parameter in the form libpq sends it: text, or raw bytes for bytea.
struct ParamText {
  std::string text;
  bool isNull = false;
  bool binary = false;
};

ParamText ParamFrom(const BoundValue& value) {
  ParamText p;
  p.binary = value.kind == ValueKind::Binary;
  if (!value.variant) {
    p.text = std::string(value.bytes);
    return p;
  }
  CComVariant deref;
  const VARIANT* v = &Dereference(*value.variant, &deref);
  switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL:
      p.isNull = true;
      break;
    case VT_BOOL:
      if (value.kind == ValueKind::Boolean)
        p.text.assign(1, v->boolVal ? 't' : 'f');
      else
        p.text.assign(1, v->boolVal ? '1' : '0');
      break;
    case VT_R4:
    case VT_R8: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", v->vt == VT_R8 ? v->dblVal : v->fltVal);
      p.text = buf;
      break;
    }
    case VT_ARRAY | VT_UI1:
      p.text = std::string(BytesOfArray(v->parray));
      break;
    default:
      p.text = StringFromVariant(*v);
      // Numbers given for a flag column: any non-zero value is true.
      if (value.kind == ValueKind::Boolean && v->vt != VT_BSTR) {
        bool isTrue = p.text != "0";
        p.text.assign(1, isTrue ? 't' : 'f');
      }
  }
  return p;
}

bool FailedOnACursorName(const PGresult* result) {
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  return state && std::string_view(state) == "34000";  // invalid_cursor_name
}

long AffectedRows(const PGresult* result) {
  const char* tuples = PQcmdTuples(const_cast<PGresult*>(result));
  return tuples && *tuples ? std::atol(tuples) : 0;
}

// FNV-1a over the name as the server folds an unquoted one: stable across
// processes, machines and releases, which a hash of the standard library
// need not be.
long long IdLockKey(const std::string& table) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : table) {
    hash ^= static_cast<unsigned char>(LowerAsciiChar(c));
    hash *= 1099511628211ull;
  }
  return static_cast<long long>(hash);
}

}  // namespace

bool PgFailed(const PGresult* result) {
  if (!result) return true;
  ExecStatusType status = PQresultStatus(result);
  return status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY;
}

std::shared_ptr<EngineConnection> OpenPostgres(const ConnectionSettings& settings) {
  return std::make_shared<PgConnection>(settings);
}

PgConnection::PgConnection(const ConnectionSettings& settings) {
  m_conn = PQconnectdb(settings.target.c_str());
  if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
    std::string message = m_conn ? Trimmed(PQerrorMessage(m_conn)) : "out of memory";
    PQfinish(m_conn);
    m_conn = nullptr;
    throw CKvDbException(KVDB_E_CONNECTION, "cannot connect to PostgreSQL: " + message);
  }
  // A writer waiting for a row lock gives up after the busy timeout with a
  // collision, as on SQLite; dates and bytes come in the forms we read.
  m_preparedLimit = static_cast<size_t>(std::max(0, settings.statementCacheSize));
  m_reconnectWaitMs = std::max(0, settings.reconnectWaitMs);
  m_sessionSetup = "SET lock_timeout = " + std::to_string(settings.busyTimeoutMs) +
                   "; SET DateStyle = 'ISO, YMD'; SET bytea_output = 'hex'; SET client_encoding = 'UTF8'";
  try {
    Run(m_sessionSetup);
  } catch (...) {
    PQfinish(m_conn);
    m_conn = nullptr;
    throw;
  }
}

PgConnection::~PgConnection() { PQfinish(m_conn); }

void PgConnection::Raise(const PGresult* result) const {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  std::string message = primary ? primary : Trimmed(PQerrorMessage(m_conn));
  if (message.empty()) message = "PostgreSQL statement failed";
  throw CKvDbException(PgStateToHresult(state), message);
}

void PgConnection::ReadyForStatement() {
  ReconnectIfLost();
  EndCursorTransaction();
}

void PgConnection::ReconnectIfLost() {
  if (m_transactionOpen) return;
  // A server that ends an idle session says so and closes the socket; libpq
  // learns of it only when it reads there. Reading what waits (twice: the
  // farewell message, then the end of the stream) finds it before the
  // statement is sent, without a round trip.
  if (PQstatus(m_conn) == CONNECTION_OK && PQtransactionStatus(m_conn) == PQTRANS_IDLE)
    for (int i = 0; i < 2 && PQconsumeInput(m_conn); ++i) {
    }
  if (PQstatus(m_conn) != CONNECTION_BAD) return;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_reconnectWaitMs);
  // A restarting server refuses connections until it is up again.
  for (PQreset(m_conn); PQstatus(m_conn) != CONNECTION_OK; PQreset(m_conn)) {
    if (Clock::now() >= deadline)
      throw CKvDbException(KVDB_E_CONNECTION,
                           "the connection to PostgreSQL was lost and cannot be made again: " +
                               Trimmed(PQerrorMessage(m_conn)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // Cursors, prepared statements and session settings died with the old
  // server session.
  m_pendingCloses.clear();
  m_cursorTransactionOwner = nullptr;
  m_statementUses.clear();
  m_queryShapes.clear();
  m_staleStatements.clear();
  m_preparedCount = 0;
  m_primaryKeys.Clear();
  PgResult setup(PQexec(m_conn, m_sessionSetup.c_str()));
  if (PgFailed(setup.get())) Raise(setup.get());
}

std::string PgConnection::WithPendingCloses(const std::string& sql) {
  if (m_pendingCloses.empty() || PQtransactionStatus(m_conn) == PQTRANS_INERROR) return sql;
  std::string text;
  for (const PendingClose& close : m_pendingCloses) text += "CLOSE " + close.name + "; ";
  m_pendingCloses.clear();
  return text + sql;
}

PgResult PgConnection::Run(const std::string& sql, bool withPendingCloses) {
  ReadyForStatement();
  const bool outside = PQtransactionStatus(m_conn) == PQTRANS_IDLE;
  const std::string text = withPendingCloses ? WithPendingCloses(sql) : sql;
  const bool closing = text.size() != sql.size();
  PgResult result(PQexec(m_conn, text.c_str()));
  if (PgFailed(result.get())) {
    // A cursor that was gone already stopped the text before sql ran;
    // outside a transaction nothing else happened, so sql runs alone.
    if (closing && outside && FailedOnACursorName(result.get())) return Run(sql, false);
    Raise(result.get());
  }
  return result;
}

bool PgConnection::InTransaction() const {
  PGTransactionStatusType status = PQtransactionStatus(m_conn);
  return (status == PQTRANS_INTRANS || status == PQTRANS_INERROR) && !m_cursorTransactionOwner;
}

PgResult PgConnection::DeclareCursor(PgCursor* cursor, const std::string& text, bool knownMany) {
  ReadyForStatement();
  if (!knownMany || PQtransactionStatus(m_conn) != PQTRANS_IDLE) return Run(text);
  try {
    PgResult batch = Run("BEGIN; " + text);
    m_cursorTransactionOwner = cursor;
    return batch;
  } catch (const CKvDbException&) {
    if (PQtransactionStatus(m_conn) != PQTRANS_IDLE) PQclear(PQexec(m_conn, "ROLLBACK"));
    throw;
  }
}

PgResult PgConnection::RunInCursor(PgCursor* cursor, const std::string& sql) {
  if (cursor != m_cursorTransactionOwner) return Run(sql);
  PgResult result(PQexec(m_conn, sql.c_str()));
  if (PgFailed(result.get())) {
    // The cursor's own transaction failed and took the cursor along.
    m_cursorTransactionOwner = nullptr;
    if (PQstatus(m_conn) != CONNECTION_BAD) PQclear(PQexec(m_conn, "ROLLBACK"));
    cursor->MarkDead();
    Raise(result.get());
  }
  return result;
}

void PgConnection::CursorExhausted(PgCursor* cursor) {
  if (cursor == m_cursorTransactionOwner) EndCursorTransaction();
}

void PgConnection::EndCursorTransaction() {
  if (!m_cursorTransactionOwner) return;
  m_cursorTransactionOwner = nullptr;
  // Only the cursor's own work is in it; a failed COMMIT leaves the cursor
  // unusable, which its next FETCH reports.
  PQclear(PQexec(m_conn, "COMMIT"));
}

std::unique_ptr<Cursor> PgConnection::DoOpenCursor(const char* sql) {
  auto self = std::static_pointer_cast<PgConnection>(shared_from_this());
  return std::make_unique<PgCursor>(std::move(self), sql);
}

long PgConnection::DoExecute(const std::string& sql) {
  return RunEvery(sql, true);
}

long PgConnection::RunEvery(const std::string& sql, bool withPendingCloses) {
  ReadyForStatement();
  const bool outside = PQtransactionStatus(m_conn) == PQTRANS_IDLE;
  const std::string text = withPendingCloses ? WithPendingCloses(sql) : sql;
  const bool closing = text.size() != sql.size();
  if (!PQsendQuery(m_conn, text.c_str())) Raise(nullptr);
  // Every statement of the text has its own result; the first failure is
  // raised once all results are collected, leaving the connection ready.
  PgResult failure;
  long affected = 0;
  while (PGresult* raw = PQgetResult(m_conn)) {
    PgResult result(raw);
    if (PgFailed(result.get())) {
      if (!failure) failure = std::move(result);
    } else {
      affected += AffectedRows(result.get());
    }
  }
  if (failure) {
    if (closing && outside && FailedOnACursorName(failure.get())) return RunEvery(sql, false);
    Raise(failure.get());
  }
  return affected;
}

long PgConnection::DoExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) {
  std::vector<ParamText> texts;
  texts.reserve(params.size());
  for (const BoundValue& p : params) texts.push_back(ParamFrom(p));
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (const ParamText& p : texts) {
    values.push_back(p.isNull ? nullptr : p.text.c_str());
    lengths.push_back(static_cast<int>(p.text.size()));
    formats.push_back(p.binary ? 1 : 0);
  }
  ReadyForStatement();
  const int count = static_cast<int>(texts.size());
  const std::string& name = PreparedNameOf(sql, count);
  PgResult result(name.empty() ? PQexecParams(m_conn, sql.c_str(), count, nullptr, values.data(),
                                              lengths.data(), formats.data(), 0)
                               : PQexecPrepared(m_conn, name.c_str(), count, values.data(),
                                                lengths.data(), formats.data(), 0));
  if (PgFailed(result.get())) Raise(result.get());
  return AffectedRows(result.get());
}

const std::string& PgConnection::PreparedNameOf(const std::string& sql, int paramCount) {
  static const std::string kSendTheText;
  constexpr int kRunsBeforePreparing = 3;
  if (m_preparedLimit == 0) return kSendTheText;
  auto found = m_statementUses.find(sql);
  if (found == m_statementUses.end()) {
    if (m_statementUses.size() >= 4 * m_preparedLimit) return kSendTheText;  // too many texts to count
    found = m_statementUses.emplace(sql, StatementUse{}).first;
  }
  StatementUse& use = found->second;
  if (!use.name.empty() || ++use.runs < kRunsBeforePreparing || m_preparedCount >= m_preparedLimit)
    return use.name;
  // Preparing reads the text as running it would, so a text that does not
  // prepare fails with the error its run would give (in a transaction the
  // failed prepare has ended it just the same).
  ++m_preparedCount;
  std::string name = "kvdbal_s" + std::to_string(++m_statementNumber);
  PgResult prepared(PQprepare(m_conn, name.c_str(), sql.c_str(), paramCount, nullptr));
  if (PgFailed(prepared.get())) {
    --m_preparedCount;
    use.runs = 0;
    Raise(prepared.get());
  }
  use.name = std::move(name);
  return use.name;
}

std::string PgConnection::Placeholder(int n) const {
  std::string mark = std::to_string(n);
  mark.insert(mark.begin(), '$');
  return mark;
}

void PgConnection::DoBegin() {
  // Pending CLOSEs in front of BEGIN would join the transaction and come
  // back with its rollback; they wait until it has ended.
  Reading([this] { return Run("BEGIN", false); });
  m_transactionOpen = true;
}

// Each table's ids are guarded by an advisory lock of the transaction,
// keyed by its name, which the server releases when the transaction ends,
// however it ends. Tables are locked in the order of their keys, so two
// writers never wait for each other crosswise. Different spellings of one
// table (quoted, with a schema) get different keys and do not wait for each
// other; the keys then still refuse a duplicate id. A wait beyond the
// connection's lock_timeout fails with lock_not_available, a collision.
void PgConnection::DoBeginWriting(const std::vector<std::string>& tablesTakingIds) {
  Begin();
  if (tablesTakingIds.empty()) return;
  std::vector<long long> keys;
  for (const std::string& table : tablesTakingIds) keys.push_back(IdLockKey(table));
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  std::string sql;
  for (long long key : keys)
    sql += (sql.empty() ? "" : "; ") + std::string("SELECT pg_advisory_xact_lock(") + std::to_string(key) + ")";
  try {
    NotifyStatement(sql);
    RunEvery(sql, false);
  } catch (const CKvDbException&) {
    Rollback();
    throw;
  }
}

void PgConnection::DoCommit() {
  // A failed transaction ends in a rollback whatever is sent; otherwise the
  // pending CLOSEs follow the COMMIT in its text, each its own statement.
  const bool failedAlready = PQtransactionStatus(m_conn) == PQTRANS_INERROR;
  std::string text = "COMMIT";
  if (!failedAlready) {
    for (const PendingClose& close : m_pendingCloses) text += "; CLOSE " + close.name;
    m_pendingCloses.clear();
  }
  m_transactionOpen = false;
  PgResult result;
  if (PQsendQuery(m_conn, text.c_str())) {
    result.reset(PQgetResult(m_conn));
    while (PGresult* closeResult = PQgetResult(m_conn)) PQclear(closeResult);
  }
  if (!result || PQstatus(m_conn) == CONNECTION_BAD) {
    EndTransaction(false);
    throw CKvDbException(KVDB_E_CONNECTION,
                         "the connection was lost during COMMIT; whether the transaction was "
                         "committed is unknown: " + Trimmed(PQerrorMessage(m_conn)));
  }
  if (PgFailed(result.get())) {
    EndTransaction(false);
    Raise(result.get());
  }
  // The server answers COMMIT of a failed transaction with a rollback.
  bool committed = std::string(PQcmdStatus(result.get())) != "ROLLBACK";
  EndTransaction(committed);
  if (!committed)
    throw CKvDbException(KVDB_E_ERRORSINCOMMAND,
                         "the transaction was rolled back because a statement in it failed");
}

// On a lost connection the server has rolled back already.
bool PgConnection::HasTransactionToRollBack() const {
  return PQstatus(m_conn) != CONNECTION_BAD && InTransaction();
}

void PgConnection::DoRollback() {
  m_transactionOpen = false;
  if (!HasTransactionToRollBack()) {
    EndTransaction(false);
    return;
  }
  PgResult result(PQexec(m_conn, "ROLLBACK"));
  EndTransaction(false);
  if (PgFailed(result.get())) Raise(result.get());
}

void PgConnection::EndTransaction(bool committed) {
  std::vector<PgCursor*> ended = std::move(m_transactionCursors);
  m_transactionCursors.clear();
  if (committed) return;
  for (PgCursor* cursor : ended) cursor->MarkDead();
  // Cursors declared in the rolled-back transaction are gone with it; those
  // declared before are still there to close.
  std::erase_if(m_pendingCloses, [](const PendingClose& close) { return close.declaredInTransaction; });
}

void PgConnection::RegisterTransactionCursor(PgCursor* cursor) { m_transactionCursors.push_back(cursor); }

bool PgConnection::ForgetCursor(PgCursor* cursor) {
  return std::erase(m_transactionCursors, cursor) > 0;
}

void PgConnection::CloseCursor(PgCursor* cursor, const std::string& name, bool declaredInTransaction) {
  if (PQstatus(m_conn) == CONNECTION_BAD) {  // gone with its session
    if (cursor == m_cursorTransactionOwner) m_cursorTransactionOwner = nullptr;
    return;
  }
  if (cursor == m_cursorTransactionOwner) {
    // Closed before its transaction ends, the rest of its rows is never
    // computed; the transaction is not left open while nothing is read.
    m_cursorTransactionOwner = nullptr;
    PQclear(PQexec(m_conn, ("CLOSE " + name + "; COMMIT").c_str()));
    if (PQtransactionStatus(m_conn) == PQTRANS_INERROR) PQclear(PQexec(m_conn, "ROLLBACK"));
    return;
  }
  m_pendingCloses.push_back({name, declaredInTransaction});
  // Each one holds its result on the server until it goes; a failed
  // transaction waits for its end.
  if (m_pendingCloses.size() < kMaxPendingCloses || PQtransactionStatus(m_conn) == PQTRANS_INERROR)
    return;
  // Closing is housekeeping: a cursor that is already gone is no failure.
  EndCursorTransaction();
  PgResult result(PQexec(m_conn, WithPendingCloses("").c_str()));
}

const std::vector<std::string>& PgConnection::PrimaryKey(const std::string& table) {
  return m_primaryKeys.Get(table, [this](const std::string& name) {
    // to_regclass gives NULL for an unknown table instead of failing the
    // caller's transaction.
    const char* sql =
        "SELECT a.attname FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid "
        "AND a.attnum = ANY(i.indkey) WHERE i.indrelid = to_regclass($1) AND i.indisprimary "
        "ORDER BY array_position(i.indkey::int2[], a.attnum)";
    const char* values[] = {name.c_str()};
    ReadyForStatement();
    PgResult result(PQexecParams(m_conn, sql, 1, nullptr, values, nullptr, nullptr, 0));
    if (PgFailed(result.get())) Raise(result.get());
    std::vector<std::string> names;
    for (int i = 0; i < PQntuples(result.get()); ++i) names.emplace_back(PQgetvalue(result.get(), i, 0));
    return names;
  });
}

}  // namespace kvdbal
