// Prepared statements of one SQLite handle kept for reuse, keyed by their
// text (a literal shape or a text with parameters of its own). A statement
// in use is taken out, so two open cursors of one shape never share one;
// when it comes back it is reset and its bindings cleared. Beyond the
// capacity the least recently used statement is finalized.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

struct sqlite3_stmt;

namespace kvdbal {

class SqliteStatementCache {
 public:
  explicit SqliteStatementCache(size_t capacity) : m_capacity(capacity) {}
  ~SqliteStatementCache() { Clear(); }
  SqliteStatementCache(const SqliteStatementCache&) = delete;
  SqliteStatementCache& operator=(const SqliteStatementCache&) = delete;

  // The cached statement for key, now the caller's; null when there is none.
  sqlite3_stmt* Take(const std::string& key);
  // Keeps stmt for key (or finalizes it when the cache holds no room or one
  // of that key already).
  void Give(const std::string& key, sqlite3_stmt* stmt);
  void Clear();
  size_t Size() const { return m_entries.size(); }
  bool Enabled() const { return m_capacity > 0; }

 private:
  using Entry = std::pair<std::string, sqlite3_stmt*>;
  size_t m_capacity;
  std::list<Entry> m_entries;  // most recently given first
  std::unordered_map<std::string, std::list<Entry>::iterator> m_index;
};

}  // namespace kvdbal
