// The ODBC backend, on the unixODBC driver manager and the driver the
// connection string names. Like the SQLite backend it reads queries outside
// a transaction on pooled reader connections of their own: a driver that
// streams a result keeps its connection busy until the last row is read, so
// a rowset left open would otherwise block every later statement. Reader
// connections stream (the server sends rows as they are fetched, a skipped
// row is never converted); the connection's own link runs writes,
// transactions and the queries inside them.
#pragma once

#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "../ConnectionString.h"
#include "../Engine.h"
#include "../PrimaryKeyCache.h"
#include "OdbcApi.h"
#include "OdbcServer.h"

namespace kvdbal {

std::shared_ptr<EngineConnection> OpenOdbc(const ConnectionSettings& settings);

namespace odbc {

class Environment;

// One connection to the server. A link whose connection was lost is
// connected again before its next use; statements allocated on it before
// then are gone with the old connection, which generation tells.
class Link {
 public:
  // A reader's transactions see one snapshot (it runs only queries).
  Link(std::shared_ptr<Environment> environment, std::string connectionString,
       std::vector<std::string> sessionSetup, bool reader = false);
  ~Link();
  SQLHDBC Dbc() const { return m_dbc.Get(); }
  unsigned long Generation() const { return m_generation; }
  bool Lost() const { return m_lost; }
  // Connects again when the connection was lost.
  void Revive();
  // Raises the CKvDbException for a failed call on handle (of type
  // handleType) of this link, noting a lost connection.
  [[noreturn]] void Raise(SQLSMALLINT handleType, SQLHANDLE handle);
  // Raises unless rc succeeded.
  void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle) {
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) Raise(handleType, handle);
  }
  // Notes a lost connection that diagnostic tells of.
  void Note(const Diagnostic& diagnostic) {
    if (IsConnectionLost(diagnostic)) m_lost = true;
  }
  Handle NewStatement();
  // The statement kept prepared for a query's shape, prepared on first use
  // and lent to one cursor at a time; null when it is lent already, limit
  // statements are kept already or the shape does not prepare.
  SQLHSTMT BorrowShape(const std::string& shape, size_t limit);
  void ReturnShape(const std::string& shape);
  void ForgetShape(const std::string& shape);
  // Runs a statement whose result, if any, nobody reads.
  void Run(const std::string& sql);
  std::string DbmsName();

 private:
  void Connect();

  std::shared_ptr<Environment> m_environment;
  std::string m_connectionString;
  std::vector<std::string> m_sessionSetup;
  bool m_reader;
  Handle m_dbc;
  struct KeptShape {
    Handle statement;
    bool lent = false;
  };
  std::unordered_map<std::string, KeptShape> m_shapes;
  unsigned long m_generation = 0;
  bool m_lost = false;
};

// A statement prepared once for a text, kept per link.
struct PreparedStatement {
  Handle statement;
  unsigned long generation = 0;
};

class OdbcConnection final : public EngineConnection {
 public:
  explicit OdbcConnection(const ConnectionSettings& settings);
  ~OdbcConnection() override;

  std::unique_ptr<Cursor> DoOpenCursor(const char* sql) override;
  long DoExecute(const std::string& sql) override;
  long DoExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) override;
  void DoBegin() override;
  void DoCommit() override;
  void DoRollback() override;
  bool HasTransactionToRollBack() const override { return m_inTransaction && !m_main->Lost(); }
  void SchemaChanged() override;
  std::string Placeholder(int n) const override;
  const char* RowIdentity() const override { return m_traits.rowIdentity; }
  std::string UpdateFirstMatch(const std::string& table, const std::string& assignments,
                               const std::string& where) const override;
  const std::vector<std::string>& PrimaryKey(const std::string& table) override;
  eKvDbServerType NativeServerType() const override { return m_traits.serverType; }

  // For cursors: a reader link for a query outside a transaction, back to
  // the pool when the cursor is done; the main link inside one.
  bool InTransaction() const { return m_inTransaction; }
  const ServerTraits& Traits() const { return m_traits; }
  int StatementCacheSize() const { return m_settings.statementCacheSize; }
  Link& MainLink();
  std::unique_ptr<Link> AcquireReader();
  void ReleaseReader(std::unique_ptr<Link> reader);

 private:
  // The main link, connected again if it was lost outside a transaction.
  Link& ReadyLink();
  // A prepared statement for sql on the main link, from the cache or new;
  // null when the cache is full (the caller then prepares one of its own).
  PreparedStatement* CachedStatement(const std::string& sql);
  long RunOne(Link& link, const std::string& sql);

  ConnectionSettings m_settings;
  std::shared_ptr<Environment> m_environment;
  ServerTraits m_traits;
  std::string m_mainString;
  std::string m_readerString;
  std::vector<std::string> m_sessionSetup;
  std::unique_ptr<Link> m_main;
  std::vector<std::unique_ptr<Link>> m_idleReaders;
  bool m_inTransaction = false;
  PrimaryKeyCache m_primaryKeys;
  // Parameterised statements by text, least recently used first.
  std::list<std::pair<std::string, PreparedStatement>> m_statements;
  std::unordered_map<std::string, std::list<std::pair<std::string, PreparedStatement>>::iterator> m_statementIndex;
};

}  // namespace odbc
}  // namespace kvdbal
