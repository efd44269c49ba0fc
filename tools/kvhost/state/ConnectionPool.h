// Database connections of the web server, reused from one request to the
// next. A connection is lent to one request at a time and comes back when
// the request ends, so two requests never share one; the pool grows to the
// number of requests served at once.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/kvdbal/ConnectionString.h"
#include "platform/kvdbal/KvDbal.h"

class ConnectionPool {
 public:
  // SQLite writers of other workers and processes wait for the lock this
  // long before a statement sees a collision (and a save retries), unless
  // the connection string says otherwise.
  explicit ConnectionPool(const std::string& connectionString)
      : m_connectionString(kvdbal::WithSqliteDefault(connectionString, "busytimeout", "10000")) {}
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // An idle connection, or a new one; raises CKvDbException when the
  // database cannot be reached.
  ComPtr<IDispatch> Acquire();
  void Release(ComPtr<IDispatch> connection);

 private:
  std::string m_connectionString;
  std::mutex m_mutex;
  std::vector<ComPtr<IDispatch>> m_idle;
};

// Lends a pooled connection to a host session for the length of a request.
// The request's lookups read one snapshot of the database, which the
// request's own writes renew: a page sees one consistent state and its own
// changes, and on SQLite its lookups share one read transaction.
class ConnectionLease {
 public:
  ConnectionLease(ConnectionPool& pool, IDispatch* hostSession);
  ~ConnectionLease();
  ConnectionLease(const ConnectionLease&) = delete;
  ConnectionLease& operator=(const ConnectionLease&) = delete;

 private:
  ConnectionPool& m_pool;
  IDispatch* m_hostSession;
  ComPtr<IDispatch> m_connection;
  std::unique_ptr<CKvDbConnection> m_reading;  // holds the snapshot
};
