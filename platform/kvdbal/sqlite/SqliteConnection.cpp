#include "SqliteConnection.h"

#include <sqlite3.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <chrono>
#include <thread>
#include <utility>

#include "../LiteralShape.h"
#include "../SqlText.h"
#include "../ValueText.h"
#include "SqliteCursor.h"
#include "SqliteThreading.h"

namespace kvdbal {
namespace {

// Frees a statement on every way out of a one-shot execution.
struct StatementGuard {
  sqlite3_stmt* stmt = nullptr;
  ~StatementGuard() { sqlite3_finalize(stmt); }
};

// Gives a cached statement back on every way out of its execution.
struct CachedStatementGuard {
  SqliteStatementCache& cache;
  const std::string& key;
  sqlite3_stmt* stmt;
  ~CachedStatementGuard() { cache.Give(key, stmt); }
};

std::string SqliteMark(int n) {
  std::string mark = std::to_string(n);
  mark.insert(mark.begin(), '?');
  return mark;
}

bool IsBlank(const char* text) {
  for (; text && *text; ++text)
    if (!std::isspace(static_cast<unsigned char>(*text)) && *text != ';') return false;
  return true;
}

// SQLite's own text ("unable to open database file") says nothing of why;
// the system's error and a look at the path do.
std::string OpenFailureText(sqlite3* db, int rc, const std::string& path, bool create) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const int systemError = db ? sqlite3_system_errno(db) : 0;
  if (systemError != 0) message += std::string(" (") + std::strerror(systemError) + ")";
  std::error_code ec;
  const std::filesystem::path file(path);
  const std::filesystem::path dir = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(dir, ec)) {
    message += "; the directory " + dir.string() + " does not exist";
  } else if (!create && !std::filesystem::exists(file, ec)) {
    message += "; the file does not exist (add ?mode=rwc to the connection string to create it)";
  }
  return message;
}

}  // namespace

std::shared_ptr<EngineConnection> OpenSqlite(const ConnectionSettings& settings) {
  return std::make_shared<SqliteConnection>(settings);
}

// Readers are opened for writing as well, although they never write: a
// read-only handle takes a slower path through the WAL index on every query.
sqlite3* SqliteConnection::OpenHandle() {
  ConfigureSqliteForThreads();
  sqlite3* db = nullptr;
  const bool create = m_settings.createIfMissing || m_settings.target == ":memory:";
  int rc = sqlite3_open_v2(m_settings.target.c_str(), &db,
                           SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    std::string message = OpenFailureText(db, rc, m_settings.target, create);
    sqlite3_close_v2(db);
    throw CKvDbException(KVDB_E_CONNECTION, "cannot open " + m_settings.target + ": " + message);
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, m_settings.busyTimeoutMs);
  return db;
}

void SqliteConnection::CloseHandle(sqlite3* db) {
  m_caches.erase(db);  // its statements go first
  sqlite3_close_v2(db);
}

SqliteStatementCache& SqliteConnection::CacheOf(sqlite3* db) {
  std::unique_ptr<SqliteStatementCache>& cache = m_caches[db];
  if (!cache) cache = std::make_unique<SqliteStatementCache>(m_settings.statementCacheSize);
  return *cache;
}

void SqliteConnection::ReturnStatement(sqlite3* db, const std::string& key, sqlite3_stmt* stmt) {
  CacheOf(db).Give(key, stmt);
}

sqlite3_stmt* SqliteConnection::ShapedStatement(sqlite3* db, const char* sql, std::string& key) {
  SqliteStatementCache& cache = CacheOf(db);
  if (!cache.Enabled()) return nullptr;
  std::optional<LiteralShape> shape = ShapeOf(sql, SqliteMark);
  if (!shape) return nullptr;
  sqlite3_stmt* stmt = cache.Take(shape->text);
  if (!stmt) {
    const char* tail = nullptr;
    // A shape that does not prepare is left to the text itself, which then
    // fails with its own message.
    if (sqlite3_prepare_v2(db, shape->text.c_str(), static_cast<int>(shape->text.size()) + 1, &stmt,
                           &tail) != SQLITE_OK ||
        !stmt || !IsBlank(tail)) {
      sqlite3_finalize(stmt);
      return nullptr;
    }
  }
  if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(shape->literals.size())) {
    cache.Forget(shape->text, stmt);
    sqlite3_finalize(stmt);
    return nullptr;
  }
  for (size_t i = 0; i < shape->literals.size(); ++i) {
    const ShapeLiteral& literal = shape->literals[i];
    const int index = static_cast<int>(i) + 1;
    const int rc = literal.kind == ShapeLiteral::Kind::Integer
                       ? sqlite3_bind_int64(stmt, index, literal.integer)
                       : sqlite3_bind_text(stmt, index, literal.text.data(),
                                           static_cast<int>(literal.text.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) {
      cache.Forget(shape->text, stmt);
      sqlite3_finalize(stmt);
      return nullptr;
    }
  }
  key = std::move(shape->text);
  return stmt;
}

SqliteConnection::SqliteConnection(const ConnectionSettings& settings) : m_settings(settings) {
  m_readersShareData = settings.target != ":memory:";
  m_db = OpenHandle();
  try {
    if (m_readersShareData) {
      // Switching to WAL needs a moment of exclusive access; processes that
      // open one new file together may have to wait for each other.
      for (int attempt = 0;; ++attempt) {
        int rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) break;
        if ((rc & 0xff) != SQLITE_BUSY || attempt == 40) Raise(rc);
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
      }
      RunSimple("PRAGMA synchronous=NORMAL");
      struct stat file {};
      if (stat(m_settings.target.c_str(), &file) == 0) {
        m_fileDevice = file.st_dev;
        m_fileInode = file.st_ino;
      }
    }
  } catch (...) {
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    throw;
  }
}

SqliteConnection::~SqliteConnection() {
  m_caches.clear();
  for (sqlite3* reader : m_idleReaders) sqlite3_close_v2(reader);
  sqlite3_close_v2(m_db);
}

void SqliteConnection::RaiseFor(sqlite3* db, int resultCode) {
  std::string message = sqlite3_errmsg(db);
  throw CKvDbException(SqliteResultToHresult(resultCode, message), message);
}

void SqliteConnection::BeforeWriting() {
  LeaveSnapshot();
  CheckFileIdentity();
}

void SqliteConnection::CheckFileIdentity() const {
  if (m_fileInode == 0) return;  // in memory, or a file that could not be looked at
  struct stat file {};
  if (stat(m_settings.target.c_str(), &file) != 0)
    throw CKvDbException(KVDB_E_CONNECTION,
                         "the database file " + m_settings.target + " was deleted while open");
  if (file.st_dev != m_fileDevice || file.st_ino != m_fileInode)
    throw CKvDbException(KVDB_E_CONNECTION,
                         "the database file " + m_settings.target + " was replaced while open");
}

void SqliteConnection::RunSimple(const char* sql) {
  int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Raise(rc);
}

std::unique_ptr<Cursor> SqliteConnection::DoOpenCursor(const char* sql) {
  // Inside a transaction a query must see the transaction's own writes.
  bool useReader = m_readersShareData && sqlite3_get_autocommit(m_db);
  sqlite3* db = useReader ? AcquireReader() : m_db;
  std::string key;
  StatementGuard guard;
  try {
    guard.stmt = ShapedStatement(db, sql, key);
  } catch (...) {
    if (useReader) ReleaseReader(db);
    throw;
  }
  if (guard.stmt) {
    // The statement is the cache's, lent: it goes back there, not to
    // sqlite3_finalize, if the cursor cannot be made.
    sqlite3_stmt* shaped = std::exchange(guard.stmt, nullptr);
    try {
      return std::make_unique<SqliteCursor>(std::static_pointer_cast<SqliteConnection>(shared_from_this()), db,
                                            useReader, shaped, key);
    } catch (...) {
      ReturnStatement(db, key, shaped);
      if (useReader) ReleaseReader(db);
      throw;
    }
  }
  try {
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &guard.stmt, &tail);
    if (rc != SQLITE_OK) RaiseFor(db, rc);
    if (!guard.stmt) throw CKvDbException(KVDB_E_ERRORSINCOMMAND, "the statement is empty");
    if (!IsBlank(tail))
      throw CKvDbException(KVDB_E_ERRORSINCOMMAND, "a rowset is opened on one statement only");
  } catch (...) {
    sqlite3_finalize(guard.stmt);
    guard.stmt = nullptr;
    if (useReader) ReleaseReader(db);
    throw;
  }
  try {
    auto self = std::static_pointer_cast<SqliteConnection>(shared_from_this());
    auto cursor = std::make_unique<SqliteCursor>(std::move(self), db, useReader, guard.stmt, std::string());
    guard.stmt = nullptr;
    return cursor;
  } catch (...) {
    if (useReader) ReleaseReader(db);
    throw;
  }
}

void SqliteConnection::SchemaChanged() {
  m_primaryKeys.Clear();
  for (auto& entry : m_caches) entry.second->Clear();
}

long SqliteConnection::DoExecute(const std::string& sql) {
  BeforeWriting();
  std::string key;
  if (sqlite3_stmt* shaped = ShapedStatement(m_db, sql.c_str(), key)) {
    CachedStatementGuard guard{CacheOf(m_db), key, shaped};
    int rc;
    while ((rc = sqlite3_step(shaped)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) Raise(rc);
    return sqlite3_stmt_readonly(shaped) ? 0 : sqlite3_changes(m_db);
  }
  long affected = 0;
  const char* next = sql.c_str();
  while (next && *next) {
    StatementGuard guard;
    int rc = sqlite3_prepare_v2(m_db, next, -1, &guard.stmt, &next);
    if (rc != SQLITE_OK) Raise(rc);
    if (!guard.stmt) break;  // only blanks or comments left
    while ((rc = sqlite3_step(guard.stmt)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) Raise(rc);
    if (!sqlite3_stmt_readonly(guard.stmt)) affected += sqlite3_changes(m_db);
  }
  return affected;
}

void SqliteConnection::Bind(sqlite3_stmt* stmt, int index, const BoundValue& value) {
  int rc = SQLITE_OK;
  if (!value.variant) {
    if (value.bytesAreText && value.kind != ValueKind::Binary)
      rc = sqlite3_bind_text(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()), SQLITE_STATIC);
    else
      rc = sqlite3_bind_blob(stmt, index, value.bytes.data(), static_cast<int>(value.bytes.size()), SQLITE_STATIC);
    if (rc != SQLITE_OK) Raise(rc);
    return;
  }
  CComVariant deref;
  const VARIANT* v = &Dereference(*value.variant, &deref);
  switch (v->vt) {
    case VT_EMPTY:
    case VT_NULL:
      rc = sqlite3_bind_null(stmt, index);
      break;
    case VT_I2:
      rc = sqlite3_bind_int(stmt, index, v->iVal);
      break;
    case VT_I4:
      rc = sqlite3_bind_int(stmt, index, v->lVal);
      break;
    case VT_I8:
      rc = sqlite3_bind_int64(stmt, index, v->llVal);
      break;
    case VT_UI1:
      rc = sqlite3_bind_int(stmt, index, v->bVal);
      break;
    case VT_BOOL:
      rc = sqlite3_bind_int(stmt, index, v->boolVal ? 1 : 0);
      break;
    case VT_R4:
      rc = sqlite3_bind_double(stmt, index, v->fltVal);
      break;
    case VT_R8:
      rc = sqlite3_bind_double(stmt, index, v->dblVal);
      break;
    case VT_ARRAY | VT_UI1: {
      std::string_view bytes = BytesOfArray(v->parray);
      rc = sqlite3_bind_blob(stmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
      break;
    }
    default: {
      // Text, dates and anything with a text form are stored as text.
      std::string text = StringFromVariant(*v);
      if (value.kind == ValueKind::Binary)
        rc = sqlite3_bind_blob(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      else
        rc = sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
  }
  if (rc != SQLITE_OK) Raise(rc);
}

long SqliteConnection::DoExecuteWithParams(const std::string& sql, const std::vector<BoundValue>& params) {
  BeforeWriting();
  // The layer's own statements with parameters repeat as they are: the text
  // is the key.
  SqliteStatementCache& cache = CacheOf(m_db);
  sqlite3_stmt* stmt = cache.Take(sql);
  if (!stmt) {
    int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()) + 1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      Raise(rc);
    }
    if (!stmt) throw CKvDbException(KVDB_E_ERRORSINCOMMAND, "the statement is empty");
  }
  CachedStatementGuard guard{cache, sql, stmt};
  for (size_t i = 0; i < params.size(); ++i) Bind(stmt, static_cast<int>(i) + 1, params[i]);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) Raise(rc);
  return sqlite3_changes(m_db);
}

std::string SqliteConnection::Placeholder(int n) const { return SqliteMark(n); }

void SqliteConnection::DoBegin() {
  BeforeWriting();
  RunSimple("BEGIN");
}

// SQLite has one write lock for the whole database. A deferred transaction
// reads first and asks for the lock at its first write, when another writer
// may have committed since its reads, which fails at once; taking the lock
// at the start waits (up to the busy timeout) for the writer before it.
void SqliteConnection::DoBeginWriting(const std::vector<std::string>& /*tablesTakingIds*/) {
  NotifyStatement("BEGIN IMMEDIATE");
  BeforeWriting();
  RunSimple("BEGIN IMMEDIATE");
}

void SqliteConnection::DoCommit() {
  RunSimple("COMMIT");
}

// A failed statement may already have ended the transaction; then there
// is nothing left to roll back.
bool SqliteConnection::HasTransactionToRollBack() const { return !sqlite3_get_autocommit(m_db); }

void SqliteConnection::DoRollback() {
  if (!HasTransactionToRollBack()) return;
  RunSimple("ROLLBACK");
}

const std::vector<std::string>& SqliteConnection::PrimaryKey(const std::string& table) {
  return m_primaryKeys.Get(table, [this](const std::string& name) {
    std::vector<std::pair<int, std::string>> columns;
    StatementGuard guard;
    std::string sql = "PRAGMA table_info(" + name + ")";
    int rc = sqlite3_prepare_v2(m_db, sql.c_str(), -1, &guard.stmt, nullptr);
    if (rc != SQLITE_OK) Raise(rc);
    while ((rc = sqlite3_step(guard.stmt)) == SQLITE_ROW) {
      int position = sqlite3_column_int(guard.stmt, 5);
      if (position > 0)
        columns.emplace_back(position, reinterpret_cast<const char*>(sqlite3_column_text(guard.stmt, 1)));
    }
    if (rc != SQLITE_DONE) Raise(rc);
    std::sort(columns.begin(), columns.end());
    std::vector<std::string> names;
    for (auto& column : columns) names.push_back(std::move(column.second));
    return names;
  });
}

}  // namespace kvdbal
