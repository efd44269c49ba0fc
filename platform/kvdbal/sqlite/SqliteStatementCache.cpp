#include "SqliteStatementCache.h"

#include <sqlite3.h>

namespace kvdbal {

sqlite3_stmt* SqliteStatementCache::Take(const std::string& key) {
  const auto found = m_index.find(key);
  if (found == m_index.end()) return nullptr;
  sqlite3_stmt* stmt = found->second->second;
  m_entries.erase(found->second);
  m_index.erase(found);
  return stmt;
}

void SqliteStatementCache::Give(const std::string& key, sqlite3_stmt* stmt) {
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  if (m_capacity == 0 || m_index.count(key)) {
    sqlite3_finalize(stmt);
    return;
  }
  m_entries.emplace_front(key, stmt);
  m_index.emplace(key, m_entries.begin());
  if (m_entries.size() > m_capacity) {
    sqlite3_finalize(m_entries.back().second);
    m_index.erase(m_entries.back().first);
    m_entries.pop_back();
  }
}

void SqliteStatementCache::Clear() {
  for (Entry& entry : m_entries) sqlite3_finalize(entry.second);
  m_entries.clear();
  m_index.clear();
}

}  // namespace kvdbal
