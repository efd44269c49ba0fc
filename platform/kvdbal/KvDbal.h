// The database access layer: connections, streaming rowsets, fields, the
// date service and the layer's exception. One engine backend per database
// (SQLite, PostgreSQL) sits behind it; callers see only these classes.
//
// A session connection is a COM object (an IDispatch) that owns one engine
// connection; hosts create it with KvDbOpenSessionConnection and hand it
// out. CKvDbConnection wraps it for the duration of a call.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../com/ComPtr.h"
#include "../com/Exceptions.h"

enum eKvDbCursorType {
  kvDbCursorUnspecified = -1,
  kvDbOpenForwardOnly = 0,
  kvDbOpenKeyset = 1,
  kvDbOpenDynamic = 2,
  kvDbOpenStatic = 3,
};

enum eKvDbLockType {
  kvDbLockUnspecified = -1,
  kvDbLockReadOnly = 1,
  kvDbLockPessimistic = 2,
  kvDbLockOptimistic = 3,
  kvDbLockBatchOptimistic = 4,
};

enum eKvDbFetchOption {
  kvDbFetchDefault = 0,
};

// What GetDbType reports. The component treats 2 and 3 as their own SQL
// dialects and every other value alike.
enum eKvDbServerType {
  kvDbServerUnknown = 0,
  kvDbServerStandard = 1,
  kvDbServerTempInto = 2,   // "SELECT ... INTO TEMP", OUTER (...) joins
  kvDbServerOuterPlus = 3,  // "(+)" outer joins
  kvDbServerSQLite = 4,
  kvDbServerPostgreSQL = 5,
};

// Field attribute: the field holds text or binary data of unbounded length.
constexpr long kvDbFieldLong = 0x80;

// Result codes the layer raises. The four collision codes are what the saving
// code retries on: duplicate keys and lock / serialisation conflicts.
constexpr HRESULT KVDB_E_COLLISION_DUPKEY = MAKE_HRESULT_U(0x80040E2F);    // integrity violation
constexpr HRESULT KVDB_E_COLLISION_LOCKED = MAKE_HRESULT_U(0x80040E31);    // lock timeout / busy
constexpr HRESULT KVDB_E_COLLISION_CHANGED = MAKE_HRESULT_U(0x8004040C);   // row changed by another
constexpr HRESULT KVDB_E_COLLISION_DEADLOCK = MAKE_HRESULT_U(0x8004040D);  // deadlock / serialisation
constexpr HRESULT KVDB_E_ERRORSINCOMMAND = MAKE_HRESULT_U(0x80040E14);     // SQL syntax / engine error
constexpr HRESULT KVDB_E_NOTABLE = MAKE_HRESULT_U(0x80040E37);             // no such table
constexpr HRESULT KVDB_E_BADCOLUMN = MAKE_HRESULT_U(0x800A0CC1);           // no such column / index
constexpr HRESULT KVDB_E_NOCURRENTROW = MAKE_HRESULT_U(0x800A0BCD);        // BOF or EOF
constexpr HRESULT KVDB_E_CLOSED = MAKE_HRESULT_U(0x800A0E78);              // rowset not open
constexpr HRESULT KVDB_E_NOTSUPPORTED = MAKE_HRESULT_U(0x800A0CB3);        // operation not allowed
constexpr HRESULT KVDB_E_CONNECTION = MAKE_HRESULT_U(0x80004005);          // cannot connect
constexpr HRESULT KVDB_E_DISKFULL = MAKE_HRESULT_U(0x80070070);            // no space left on the device

class CKvDbException : public CException {
 public:
  CKvDbException(HRESULT hr, std::string message) : CException(std::move(message)), m_hr(hr) {}
  HRESULT GetResult() const { return m_hr; }
  const char* GetRuntimeClassName() const override { return "CKvDbException"; }

 private:
  HRESULT m_hr;
};

namespace kvdbal {
class EngineConnection;  // backend side, reference counted
class RowsetImpl;
class FieldImpl;
}  // namespace kvdbal

// Opens an engine connection from a connection string ("sqlite:PATH",
// "sqlite::memory:", "postgresql://..."; options after '?', such as
// servertype=2, override what the connection reports) and returns it as a
// session connection object. Raises CKvDbException when it cannot connect.
void KvDbOpenSessionConnection(const std::string& connectionString, IDispatch** ppConnection);

// Every SQL text that reaches an engine is passed to the observer first
// (tests assert on exact statements): the texts given to Open and Execute,
// BEGIN / COMMIT / ROLLBACK, and the INSERT / UPDATE statements that Update
// generates. The layer's own catalogue look-ups and cursor housekeeping are
// not passed on. An empty function removes the observer.
void KvDbSetStatementObserver(std::function<void(const std::string&)> observer);

class CKvDbService {
 public:
  explicit CKvDbService(eKvDbServerType serverType = kvDbServerStandard) : m_serverType(serverType) {}
  // SQL date text for date, ready to be placed into a statement as it is.
  // Mode 3 gives a quoted date-time literal 'YYYY-MM-DD HH:MM:SS'.
  std::string StringFromDATE(DATE date, int mode) const;

 private:
  // The engine the texts are for; both read the same date literal today.
  [[maybe_unused]] eKvDbServerType m_serverType;
};

class CKvDbConnection {
 public:
  // pSessionConnection is a session connection object; with bAddRef true the
  // wrapper takes its own reference, so the caller may release its one.
  CKvDbConnection(IDispatch* pSessionConnection, bool bAddRef);
  ~CKvDbConnection();
  CKvDbConnection(const CKvDbConnection&) = delete;
  CKvDbConnection& operator=(const CKvDbConnection&) = delete;

  void BeginTrans();
  // A transaction that writes, taking new ids as MAX(lid)+1 in
  // tablesTakingIds. On a connection opened with savelock=table, other
  // writers that begin the same way wait for it to end before they read
  // those ids (a collision code when the wait runs out); otherwise it is
  // BeginTrans.
  void BeginTransWriting(const std::vector<std::string>& tablesTakingIds);
  void CommitTrans();
  void RollbackTrans();
  // Lookups between these two that run outside a transaction may read one
  // snapshot together (see CKvDbSharedSnapshot).
  void BeginSharedSnapshot();
  void EndSharedSnapshot() noexcept;
  // Runs one statement. The returned rowset pointer is always null here (the
  // component ignores it); pRecordsAffected, when given, receives the count.
  class CKvDbRowset* Execute(const char* sql, long* pRecordsAffected, long options);
  eKvDbServerType GetDbType() const;
  const CKvDbService& GetService() const { return m_service; }

  // For the layer itself: the engine connection shared with rowsets.
  std::shared_ptr<kvdbal::EngineConnection> Engine() const { return m_engine; }

 private:
  ComPtr<IDispatch> m_session;  // keeps the session connection alive while wrapped
  std::shared_ptr<kvdbal::EngineConnection> m_engine;
  CKvDbService m_service;
};

// A series of lookups that read one snapshot of the database, from the
// first to the end of the scope: one consistent view for the series, and
// on SQLite one read transaction instead of one per lookup.
class CKvDbSharedSnapshot {
 public:
  explicit CKvDbSharedSnapshot(CKvDbConnection& connection) : m_connection(connection) {
    m_connection.BeginSharedSnapshot();
  }
  ~CKvDbSharedSnapshot() { m_connection.EndSharedSnapshot(); }
  CKvDbSharedSnapshot(const CKvDbSharedSnapshot&) = delete;
  CKvDbSharedSnapshot& operator=(const CKvDbSharedSnapshot&) = delete;

 private:
  CKvDbConnection& m_connection;
};

// A field of the current row; owned by its rowset and valid until the rowset
// moves or closes.
class CKvDbField {
 public:
  virtual ~CKvDbField() = default;
  // The value as a VARIANT (database NULL as VT_NULL). Raises with no current row.
  virtual CComVariant GetValue() = 0;
  // 32-bit integer; 0 for NULL.
  virtual long GetLongValue() = 0;
  // Text form of the value ("" for NULL).
  virtual std::string GetStringValue() = 0;
  virtual void SetValue(const VARIANT& value) = 0;
  // Appends text or bytes to a long field of the row being written.
  virtual void AppendChunk(const VARIANT& chunk) = 0;
  virtual long GetAttributes() = 0;
  virtual std::string GetName() = 0;
};

class CKvDbRowset {
 public:
  CKvDbRowset();
  virtual ~CKvDbRowset();
  CKvDbRowset(const CKvDbRowset&) = delete;
  CKvDbRowset& operator=(const CKvDbRowset&) = delete;

  // Runs sql and positions on the first row (EOF when there is none). A
  // rowset opened for writing (lock type 2 or 3, or cursor type 0 with lock
  // type 1) on a single-table SELECT supports AddNew and Update. The rowset
  // stays usable after pConnection is destroyed.
  void Open(const char* sql, CKvDbConnection* pConnection, eKvDbCursorType cursorType,
            eKvDbLockType lockType, eKvDbFetchOption fetchOption);
  void Open(const char* sql, CKvDbConnection* pConnection, int cursorType, int lockType,
            int fetchOption) {
    Open(sql, pConnection, static_cast<eKvDbCursorType>(cursorType),
         static_cast<eKvDbLockType>(lockType), static_cast<eKvDbFetchOption>(fetchOption));
  }
  bool IsOpen() const;
  bool IsEOF() const;
  bool IsBOF() const;
  void MoveFirst();
  void MoveNext();
  void MovePrev();
  void MoveLast();
  // Moves by nRecords from the current row (negative: backwards). Moving past
  // the end leaves the rowset at EOF, before the start at BOF.
  void Move(long nRecords);
  void AddNew();
  void Update();
  void Close();

  CKvDbField* GetField(int nIndex);
  CKvDbField* GetField(const char* pszName);
  CKvDbField* GetField(const VARIANT& vName, VARIANT* pReserved = nullptr);
  int GetFieldCount() const;

 private:
  std::unique_ptr<kvdbal::RowsetImpl> m_impl;
};
