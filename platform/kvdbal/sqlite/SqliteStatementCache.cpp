#include "SqliteStatementCache.h"

#include <sqlite3.h>

namespace kvdbal {

sqlite3_stmt* SqliteStatementCache::Take(const std::string& key) {
  const auto found = m_index.find(key);
  if (found == m_index.end() || found->second->lent) return nullptr;
  const Place place = found->second;
  place->lent = true;
  m_entries.splice(m_entries.begin(), m_entries, place);
  return place->stmt;
}

void SqliteStatementCache::Give(const std::string& key, sqlite3_stmt* stmt) {
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  if (const auto found = m_index.find(key); found != m_index.end()) {
    if (found->second->stmt == stmt)
      found->second->lent = false;
    else
      sqlite3_finalize(stmt);
    return;
  }
  if (m_capacity == 0) {
    sqlite3_finalize(stmt);
    return;
  }
  m_entries.push_front(Entry{key, stmt, false});
  m_index.emplace(m_entries.front().key, m_entries.begin());
  if (m_entries.size() > m_capacity) Drop(std::prev(m_entries.end()));
}

void SqliteStatementCache::Forget(const std::string& key, sqlite3_stmt* stmt) {
  const auto found = m_index.find(key);
  if (found == m_index.end() || found->second->stmt != stmt) return;
  // The caller's now, like a lent one: dropped without being finalized.
  found->second->lent = true;
  Drop(found->second);
}

void SqliteStatementCache::Drop(Place place) {
  if (!place->lent) sqlite3_finalize(place->stmt);
  m_index.erase(place->key);
  m_entries.erase(place);
}

void SqliteStatementCache::Clear() {
  while (!m_entries.empty()) Drop(m_entries.begin());
}

}  // namespace kvdbal
