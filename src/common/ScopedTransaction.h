// A transaction on a session connection that ends exactly once: Commit() or
// Rollback(), or a rollback when it is left by an exception (whose failure
// is the one reported; a failing rollback is swallowed then).
#pragma once

#include <string>
#include <vector>

#include "../../platform/kvdbal/KvDbal.h"

class ScopedTransaction {
 public:
  explicit ScopedTransaction(CKvDbConnection& connection) : m_connection(connection) {
    m_connection.BeginTrans();
  }
  // A transaction that writes, with new ids read in tablesTakingIds.
  ScopedTransaction(CKvDbConnection& connection, const std::vector<std::string>& tablesTakingIds)
      : m_connection(connection) {
    m_connection.BeginTransWriting(tablesTakingIds);
  }
  ~ScopedTransaction() {
    if (!m_open) return;
    try {
      m_connection.RollbackTrans();
    } catch (...) {
    }
  }
  ScopedTransaction(const ScopedTransaction&) = delete;
  ScopedTransaction& operator=(const ScopedTransaction&) = delete;

  void Commit() {
    m_connection.CommitTrans();
    m_open = false;
  }
  void Rollback() {
    m_open = false;
    m_connection.RollbackTrans();
  }

 private:
  CKvDbConnection& m_connection;
  bool m_open = true;
};
