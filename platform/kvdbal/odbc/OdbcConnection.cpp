#include "OdbcConnection.h"

#include <mutex>

#include "../SqlText.h"
#include "OdbcCursor.h"
#include "OdbcParams.h"

namespace kvdbal {

std::shared_ptr<EngineConnection> OpenOdbc(const ConnectionSettings& settings) {
  return std::make_shared<odbc::OdbcConnection>(settings);
}

namespace odbc {

// The driver manager's environment, shared by every connection of the
// process and freed after the last.
class Environment {
 public:
  Environment() {
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
      throw CKvDbException(KVDB_E_CONNECTION, "cannot start the ODBC driver manager");
    m_env = Handle(SQL_HANDLE_ENV, env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  SQLHENV Get() const { return m_env.Get(); }

  static std::shared_ptr<Environment> Shared() {
    static std::mutex mutex;
    static std::weak_ptr<Environment> shared;
    std::lock_guard lock(mutex);
    std::shared_ptr<Environment> environment = shared.lock();
    if (!environment) {
      environment = std::make_shared<Environment>();
      shared = environment;
    }
    return environment;
  }

 private:
  Handle m_env;
};

// ---- link ----------------------------------------------------------------------------

Link::Link(std::shared_ptr<Environment> environment, std::string connectionString,
           std::vector<std::string> sessionSetup, bool reader)
    : m_environment(std::move(environment)),
      m_connectionString(std::move(connectionString)),
      m_sessionSetup(std::move(sessionSetup)),
      m_reader(reader) {
  Connect();
}

Link::~Link() {
  if (m_lost) {
    for (auto& entry : m_shapes) entry.second.statement.Release();
  }
  m_shapes.clear();
  if (m_dbc) SQLDisconnect(m_dbc.Get());
}

SQLHSTMT Link::BorrowShape(const std::string& shape, size_t limit) {
  auto found = m_shapes.find(shape);
  if (found == m_shapes.end()) {
    if (m_shapes.size() >= limit) return SQL_NULL_HANDLE;
    KeptShape kept{NewStatement(), false};
    WideString text = Wide(shape);
    // A shape that does not prepare is remembered as such; its texts run as
    // they are and fail, if they do, with their own message.
    if (!SQL_SUCCEEDED(SQLPrepareW(kept.statement.Get(), text.data(), static_cast<SQLINTEGER>(text.size()))))
      kept.statement.Reset();
    found = m_shapes.emplace(shape, std::move(kept)).first;
  }
  if (found->second.lent || !found->second.statement) return SQL_NULL_HANDLE;
  found->second.lent = true;
  return found->second.statement.Get();
}

void Link::ReturnShape(const std::string& shape) {
  auto found = m_shapes.find(shape);
  if (found != m_shapes.end()) found->second.lent = false;
}

void Link::Connect() {
  SQLHANDLE dbc = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, m_environment->Get(), &dbc)))
    throw CKvDbException(KVDB_E_CONNECTION, "cannot allocate an ODBC connection");
  Handle owned(SQL_HANDLE_DBC, dbc);
  WideString text = Wide(m_connectionString);
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, text.data(), static_cast<SQLSMALLINT>(text.size()), nullptr, 0,
                                   &outLength, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    Diagnostic d = ReadDiagnostic(SQL_HANDLE_DBC, dbc);
    throw CKvDbException(KVDB_E_CONNECTION, "cannot connect to the ODBC data source: " + MessageOf(d));
  }
  m_dbc = std::move(owned);
  m_lost = false;
  ++m_generation;
  // Statements read what is committed when they start, as on the other
  // engines; a reader's transaction holds one snapshot for a long result.
  const SQLULEN isolation = m_reader ? SQL_TXN_REPEATABLE_READ : SQL_TXN_READ_COMMITTED;
  SQLSetConnectAttrW(dbc, SQL_ATTR_TXN_ISOLATION, reinterpret_cast<SQLPOINTER>(isolation), 0);
  try {
    for (const std::string& statement : m_sessionSetup) Run(statement);
  } catch (...) {
    SQLDisconnect(dbc);
    m_dbc.Reset();
    throw;
  }
}

void Link::ForgetShape(const std::string& shape) {
  auto found = m_shapes.find(shape);
  if (found == m_shapes.end()) return;
  if (m_lost) found->second.statement.Release();
  m_shapes.erase(found);
}

void Link::Revive() {
  if (!m_lost) return;
  // The kept statements went with the old connection.
  for (auto& entry : m_shapes) entry.second.statement.Release();
  m_shapes.clear();
  if (m_dbc) SQLDisconnect(m_dbc.Get());
  m_dbc.Reset();
  try {
    Connect();
  } catch (const CKvDbException& e) {
    throw CKvDbException(KVDB_E_CONNECTION,
                         "the connection to the server was lost and cannot be made again: " + e.Message());
  }
}

void Link::Raise(SQLSMALLINT handleType, SQLHANDLE handle) {
  Diagnostic d = ReadDiagnostic(handleType, handle);
  Note(d);
  throw CKvDbException(HresultOf(d), MessageOf(d));
}

Handle Link::NewStatement() {
  SQLHANDLE statement = SQL_NULL_HANDLE;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, m_dbc.Get(), &statement);
  if (!SQL_SUCCEEDED(rc)) Raise(SQL_HANDLE_DBC, m_dbc.Get());
  return Handle(SQL_HANDLE_STMT, statement);
}

void Link::Run(const std::string& sql) {
  Handle statement = NewStatement();
  WideString text = Wide(sql);
  SQLRETURN rc = SQLExecDirectW(statement.Get(), text.data(), static_cast<SQLINTEGER>(text.size()));
  Check(rc, SQL_HANDLE_STMT, statement.Get());
}

std::string Link::DbmsName() {
  SQLWCHAR name[128] = {};
  SQLSMALLINT length = 0;
  Check(SQLGetInfoW(m_dbc.Get(), SQL_DBMS_NAME, name, sizeof name, &length), SQL_HANDLE_DBC, m_dbc.Get());
  return Narrow(name, std::min<size_t>(length / sizeof(SQLWCHAR), 127));
}

// ---- connection ----------------------------------------------------------------------

OdbcConnection::OdbcConnection(const ConnectionSettings& settings)
    : m_settings(settings), m_environment(Environment::Shared()) {
  // What the driver needs added is known from its name before connecting;
  // a data source whose driver does not tell is asked after.
  ServerFamily family = FamilyOfDriver(settings.target);
  m_mainString = DriverConnectionString(settings.target, family, false);
  m_sessionSetup = SessionSetup(family, settings.busyTimeoutMs);
  m_main = std::make_unique<Link>(m_environment, m_mainString, m_sessionSetup);
  m_traits = TraitsOf(m_main->DbmsName());
  if (m_traits.family != family) {
    family = m_traits.family;
    m_mainString = DriverConnectionString(settings.target, family, false);
    m_sessionSetup = SessionSetup(family, settings.busyTimeoutMs);
    m_main = std::make_unique<Link>(m_environment, m_mainString, m_sessionSetup);
  }
  m_readerString = DriverConnectionString(settings.target, family, true);
}

OdbcConnection::~OdbcConnection() {
  m_statementIndex.clear();
  m_statements.clear();
  m_idleReaders.clear();
  if (m_inTransaction && m_main && !m_main->Lost())
    SQLEndTran(SQL_HANDLE_DBC, m_main->Dbc(), SQL_ROLLBACK);
}

Link& OdbcConnection::MainLink() { return *m_main; }

Link& OdbcConnection::ReadyLink() {
  if (m_main->Lost()) {
    if (m_inTransaction)
      throw CKvDbException(KVDB_E_CONNECTION,
                           "the connection to the server was lost inside a transaction; its work is gone");
    m_statementIndex.clear();
    for (auto& entry : m_statements) entry.second.statement.Release();
    m_statements.clear();
    m_primaryKeys.Clear();
    m_main->Revive();
  }
  return *m_main;
}

std::unique_ptr<Link> OdbcConnection::AcquireReader() {
  while (!m_idleReaders.empty()) {
    std::unique_ptr<Link> reader = std::move(m_idleReaders.back());
    m_idleReaders.pop_back();
    if (!reader->Lost()) return reader;
  }
  return std::make_unique<Link>(m_environment, m_readerString, m_sessionSetup, true);
}

void OdbcConnection::ReleaseReader(std::unique_ptr<Link> reader) {
  // A few idle readers cover the rowsets a page keeps open at once.
  if (!reader->Lost() && m_idleReaders.size() < 4) m_idleReaders.push_back(std::move(reader));
}

std::unique_ptr<Cursor> OdbcConnection::DoOpenCursor(const char* sql) {
  auto self = std::static_pointer_cast<OdbcConnection>(shared_from_this());
  if (m_inTransaction) {
    ReadyLink();
    return std::make_unique<OdbcCursor>(std::move(self), nullptr, sql);
  }
  std::unique_ptr<Link> reader = AcquireReader();
  return std::make_unique<OdbcCursor>(std::move(self), std::move(reader), sql);
}

long OdbcConnection::RunOne(Link& link, const std::string& sql) {
  Handle statement = link.NewStatement();
  WideString text = Wide(sql);
  SQLRETURN rc = SQLExecDirectW(statement.Get(), text.data(), static_cast<SQLINTEGER>(text.size()));
  link.Check(rc, SQL_HANDLE_STMT, statement.Get());
  long affected = 0;
  // Every result of the text is taken, so that a failure in a later one is
  // reported too.
  do {
    SQLSMALLINT columns = 0;
    SQLNumResultCols(statement.Get(), &columns);
    SQLLEN rows = 0;
    if (columns == 0 && rc != SQL_NO_DATA && SQL_SUCCEEDED(SQLRowCount(statement.Get(), &rows)) && rows > 0)
      affected += static_cast<long>(rows);
    rc = SQLMoreResults(statement.Get());
    link.Check(rc, SQL_HANDLE_STMT, statement.Get());
  } while (rc != SQL_NO_DATA);
  return affected;
}

long OdbcConnection::DoExecute(const std::string& sql) {
  Link& link = ReadyLink();
  long affected = 0;
  for (std::string_view statement : SplitStatements(sql)) affected += RunOne(link, std::string(statement));
  return affected;
}

PreparedStatement* OdbcConnection::CachedStatement(const std::string& sql) {
  auto found = m_statementIndex.find(sql);
  if (found != m_statementIndex.end()) {
    m_statements.splice(m_statements.end(), m_statements, found->second);
    return &found->second->second;
  }
  const size_t limit = static_cast<size_t>(std::max(0, m_settings.statementCacheSize));
  if (limit == 0) return nullptr;
  if (m_statements.size() >= limit) {
    m_statementIndex.erase(m_statements.front().first);
    m_statements.pop_front();
  }
  Link& link = *m_main;
  PreparedStatement prepared{link.NewStatement(), link.Generation()};
  WideString text = Wide(sql);
  SQLRETURN rc = SQLPrepareW(prepared.statement.Get(), text.data(), static_cast<SQLINTEGER>(text.size()));
  link.Check(rc, SQL_HANDLE_STMT, prepared.statement.Get());
  m_statements.emplace_back(sql, std::move(prepared));
  auto last = std::prev(m_statements.end());
  m_statementIndex.emplace(sql, last);
  return &last->second;
}

long OdbcConnection::DoExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) {
  Link& link = ReadyLink();
  BoundParameters parameters(params);
  Handle own;
  SQLHSTMT statement;
  if (PreparedStatement* cached = CachedStatement(sql)) {
    statement = cached->statement.Get();
  } else {
    own = link.NewStatement();
    statement = own.Get();
    WideString text = Wide(sql);
    link.Check(SQLPrepareW(statement, text.data(), static_cast<SQLINTEGER>(text.size())), SQL_HANDLE_STMT,
               statement);
  }
  parameters.Bind(link, statement);
  SQLRETURN rc = parameters.Execute(link, statement);
  if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
    // The failure's record is read before the statement is reset.
    try {
      link.Raise(SQL_HANDLE_STMT, statement);
    } catch (...) {
      SQLFreeStmt(statement, SQL_CLOSE);
      SQLFreeStmt(statement, SQL_RESET_PARAMS);
      throw;
    }
  }
  SQLLEN rows = 0;
  if (rc == SQL_NO_DATA || !SQL_SUCCEEDED(SQLRowCount(statement, &rows)) || rows < 0) rows = 0;
  SQLFreeStmt(statement, SQL_CLOSE);
  SQLFreeStmt(statement, SQL_RESET_PARAMS);
  return static_cast<long>(rows);
}

void OdbcConnection::DoBegin() {
  Link& link = ReadyLink();
  link.Check(SQLSetConnectAttrW(link.Dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
             SQL_HANDLE_DBC, link.Dbc());
  m_inTransaction = true;
}

void OdbcConnection::DoCommit() {
  if (!m_inTransaction) throw CKvDbException(KVDB_E_ERRORSINCOMMAND, "there is no transaction to commit");
  Link& link = *m_main;
  if (link.Lost()) {
    m_inTransaction = false;
    throw CKvDbException(KVDB_E_CONNECTION,
                         "the connection to the server was lost inside the transaction; its work is gone");
  }
  SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, link.Dbc(), SQL_COMMIT);
  if (!SQL_SUCCEEDED(rc)) {
    Diagnostic d = ReadDiagnostic(SQL_HANDLE_DBC, link.Dbc());
    m_inTransaction = false;
    if (IsConnectionLost(d) || d.state.substr(0, 2) == "08") {
      link.Note(d);
      throw CKvDbException(KVDB_E_CONNECTION,
                           "the connection was lost during COMMIT; whether the transaction was committed is "
                           "unknown: " + MessageOf(d));
    }
    SQLEndTran(SQL_HANDLE_DBC, link.Dbc(), SQL_ROLLBACK);
    SQLSetConnectAttrW(link.Dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    throw CKvDbException(HresultOf(d), MessageOf(d));
  }
  m_inTransaction = false;
  link.Check(SQLSetConnectAttrW(link.Dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
             SQL_HANDLE_DBC, link.Dbc());
}

void OdbcConnection::DoRollback() {
  if (!m_inTransaction) return;
  m_inTransaction = false;
  Link& link = *m_main;
  // On a lost connection the server has rolled back already.
  if (link.Lost()) return;
  SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, link.Dbc(), SQL_ROLLBACK);
  if (!SQL_SUCCEEDED(rc)) link.Raise(SQL_HANDLE_DBC, link.Dbc());
  link.Check(SQLSetConnectAttrW(link.Dbc(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0),
             SQL_HANDLE_DBC, link.Dbc());
}

void OdbcConnection::SchemaChanged() {
  m_primaryKeys.Clear();
  // A statement prepared on a table that changes may describe it wrongly.
  m_statementIndex.clear();
  m_statements.clear();
}

std::string OdbcConnection::Placeholder(int) const { return "?"; }

std::string OdbcConnection::UpdateFirstMatch(const std::string& table, const std::string& assignments,
                                             const std::string& where) const {
  return UpdateFirstMatchOn(m_traits, table, assignments, where);
}

const std::vector<std::string>& OdbcConnection::PrimaryKey(const std::string& table) {
  return m_primaryKeys.Get(table, [this](const std::string& name) {
    Link& link = ReadyLink();
    Handle statement = link.NewStatement();
    WideString wideName = Wide(name);
    SQLRETURN rc = SQLPrimaryKeysW(statement.Get(), nullptr, 0, nullptr, 0, wideName.data(),
                                   static_cast<SQLSMALLINT>(wideName.size()));
    link.Check(rc, SQL_HANDLE_STMT, statement.Get());
    std::vector<std::pair<int, std::string>> columns;
    while ((rc = SQLFetch(statement.Get())) != SQL_NO_DATA) {
      link.Check(rc, SQL_HANDLE_STMT, statement.Get());
      SQLWCHAR column[256] = {};
      SQLLEN columnLength = 0;
      SQLSMALLINT sequence = 0;
      SQLLEN sequenceLength = 0;
      link.Check(SQLGetData(statement.Get(), 4, SQL_C_WCHAR, column, sizeof column, &columnLength),
                 SQL_HANDLE_STMT, statement.Get());
      link.Check(SQLGetData(statement.Get(), 5, SQL_C_SSHORT, &sequence, 0, &sequenceLength), SQL_HANDLE_STMT,
                 statement.Get());
      const size_t length = columnLength > 0 ? std::min<size_t>(columnLength / sizeof(SQLWCHAR), 255) : 0;
      columns.emplace_back(sequence, Narrow(column, length));
    }
    std::sort(columns.begin(), columns.end());
    std::vector<std::string> names;
    for (auto& column : columns) names.push_back(std::move(column.second));
    return names;
  });
}

}  // namespace odbc
}  // namespace kvdbal
