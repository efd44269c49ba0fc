// The PostgreSQL backend on libpq. Queries stream through server-side
// cursors (DECLARE ... WITH HOLD, FETCH in batches, MOVE to skip), so the
// connection stays free for other statements while a rowset is open and a
// skipped row never travels to the client. A query whose shape has been seen
// to give no more than a batch runs instead as a statement prepared on the
// server, its whole result in one round trip.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "../ConnectionString.h"
#include "../Engine.h"
#include "../LiteralShape.h"
#include "../PrimaryKeyCache.h"

namespace kvdbal {

std::shared_ptr<EngineConnection> OpenPostgres(const ConnectionSettings& settings);

// HRESULT for an SQLSTATE (null when the server sent none).
HRESULT PgStateToHresult(const char* sqlState);
// True for no result or one that reports a failure.
bool PgFailed(const PGresult* result);
// Column description from a type OID and its modifier.
ColumnInfo ClassifyPgType(Oid type, int modifier);

struct PgResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

class PgCursor;

class PgConnection final : public EngineConnection {
 public:
  explicit PgConnection(const ConnectionSettings& settings);
  ~PgConnection() override;

  std::unique_ptr<Cursor> DoOpenCursor(const char* sql) override;
  long DoExecute(const std::string& sql) override;
  long DoExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) override;
  void DoBegin() override;
  void DoBeginWriting(const std::vector<std::string>& tablesTakingIds) override;
  void DoCommit() override;
  void DoRollback() override;
  bool HasTransactionToRollBack() const override;
  void SchemaChanged() override { m_primaryKeys.Clear(); }
  std::string Placeholder(int n) const override;
  const char* RowIdentity() const override { return "ctid"; }
  const std::vector<std::string>& PrimaryKey(const std::string& table) override;
  eKvDbServerType NativeServerType() const override { return kvDbServerPostgreSQL; }

  // Runs sql and raises the CKvDbException for a failed result. Pending
  // CLOSEs go in front unless withPendingCloses is false.
  PgResult Run(const std::string& sql, bool withPendingCloses = true);
  // Declares cursor's query (text: its DECLARE and first FETCH) and runs
  // the cursor's own MOVEs and FETCHes. A cursor declared outside a
  // transaction for a query known to give more than a batch gets one of
  // its own, kept open only while nothing but this cursor is read: the
  // server then never computes the rows after the last one fetched, which
  // WITH HOLD at an autocommit's end would store. Any other statement, the
  // cursor's close or its end commits it first. Other queries are declared
  // in an autocommit, which costs no COMMIT of its own.
  PgResult DeclareCursor(PgCursor* cursor, const std::string& text, bool knownMany);
  PgResult RunInCursor(PgCursor* cursor, const std::string& sql);
  void CursorExhausted(PgCursor* cursor);
  [[noreturn]] void Raise(const PGresult* result) const;
  std::string NextCursorName() { return "kvdbal_c" + std::to_string(++m_cursorCounter); }
  // The caller's transaction (not a cursor's own) is open.
  bool InTransaction() const;

  // Runs read, which changes nothing on the server. When the session turns
  // out lost on the way, outside the caller's transaction, nothing was
  // under way that could be lost with it: read runs once more on a new one.
  template <typename Read>
  auto Reading(Read&& read) -> decltype(read()) {
    if (m_transactionOpen) return read();
    try {
      return read();
    } catch (const CKvDbException&) {
      if (m_transactionOpen || PQstatus(m_conn) != CONNECTION_BAD) throw;
      ReconnectIfLost();
      return read();
    }
  }

  // Cursors declared inside a transaction die with its rollback; the
  // connection tells them, so that they do not try to close themselves.
  void RegisterTransactionCursor(PgCursor* cursor);
  // True when the cursor was declared in the open transaction.
  bool ForgetCursor(PgCursor* cursor);
  // Closes a cursor without a round trip of its own: the CLOSE goes in front
  // of the next statement text sent (after COMMIT when a transaction ends).
  // declaredInTransaction: the cursor was declared in the open transaction,
  // so its rollback takes the cursor along.
  void CloseCursor(PgCursor* cursor, const std::string& name, bool declaredInTransaction);

  // The rows of a query run as a statement prepared by its shape, when the
  // shape has given at most batchRows rows before; null when the query is
  // to stand behind a cursor. Then, if learnShape comes back non-empty and
  // the cursor's query ran, the caller tells NoteShapeRows what its first
  // batch held; knownMany tells that the shape gave more than a batch.
  PgResult RunShapedQuery(const std::string& sql, int batchRows, std::string* learnShape, bool* knownMany);
  void NoteShapeRows(const std::string& shape, bool filledBatch);

 private:
  void EndTransaction(bool committed);
  // Commits the transaction a cursor holds for itself, if one is open.
  void EndCursorTransaction();
  PgCursor* m_cursorTransactionOwner = nullptr;
  // A connection the server dropped (a restart, an administrator) is made
  // again on its next use, but never inside a transaction: the work of that
  // transaction is gone and the caller must hear of it. A server that is
  // coming back is waited for, up to the connection's reconnect wait.
  void ReconnectIfLost();
  int m_reconnectWaitMs = 0;
  // What every statement needs first: a live connection, and no cursor's
  // own transaction around it.
  void ReadyForStatement();

  PGconn* m_conn = nullptr;
  std::string m_sessionSetup;
  bool m_transactionOpen = false;
  unsigned long m_cursorCounter = 0;
  std::vector<PgCursor*> m_transactionCursors;
  // CLOSEs waiting for the next text sent. A CLOSE takes effect at once and
  // is not undone by a rollback; only a failed transaction runs none.
  struct PendingClose {
    std::string name;
    bool declaredInTransaction;
  };
  std::vector<PendingClose> m_pendingCloses;
  // Runs every statement of sql; returns the rows they changed.
  long RunEvery(const std::string& sql, bool withPendingCloses);
  // The text to send for sql: the pending closes, then sql; they count as
  // sent from here. Nothing is added in a failed transaction.
  std::string WithPendingCloses(const std::string& sql);
  PrimaryKeyCache m_primaryKeys;
  // Parameterised statements by text: one run a few times is prepared on
  // the server and executed by name from then on, up to statementcache of
  // them; the server forgets them when the session ends.
  struct StatementUse {
    int runs = 0;
    std::string name;  // empty while not prepared
  };
  std::unordered_map<std::string, StatementUse> m_statementUses;
  size_t m_preparedCount = 0;
  size_t m_preparedLimit = 0;
  // Every prepared statement of the session gets a number of its own, so a
  // name is never handed out twice while its statement lives.
  unsigned long m_statementNumber = 0;
  // The server-side name to execute sql by, preparing it when it has been
  // run often enough; empty to send the text.
  const std::string& PreparedNameOf(const std::string& sql, int paramCount);

  // Queries by shape. The first run of a shape goes through a cursor, which
  // reads the text exactly as given; a shape that gave a batch or less is
  // then prepared (its rows capped one above a batch, so that a fuller
  // result shows and moves the shape back to cursors for good).
  struct QueryShapeUse {
    bool manyRows = false;
    bool unpreparable = false;
    std::string name;  // the prepared statement; empty while none
  };
  std::unordered_map<std::string, QueryShapeUse> m_queryShapes;  // by types and shape text
  // Statements whose plan went stale inside a transaction, which could not
  // be dropped there; they go before the next shaped query.
  std::vector<std::string> m_staleStatements;
  void DropStaleStatements();
  // types: the parameters' server types, comma-separated.
  bool PrepareShape(const LiteralShape& shape, const std::string& types, int batchRows, QueryShapeUse& use);
  PgResult ExecuteShape(const LiteralShape& shape, const QueryShapeUse& use);
};

}  // namespace kvdbal
