// Prepared statements of one SQLite handle kept for reuse, keyed by their
// text (a literal shape or a text with parameters of its own). A statement
// in use is lent: it keeps its place, so taking and giving it back costs
// a lookup and no allocation, but it is not lent twice, so two open
// cursors of one shape never share one. When it comes back it is reset
// and its bindings cleared. Beyond the capacity the least recently used
// statement is finalized, or, if it is lent, left to its borrower.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3_stmt;

namespace kvdbal {

class SqliteStatementCache {
 public:
  explicit SqliteStatementCache(size_t capacity) : m_capacity(capacity) {}
  ~SqliteStatementCache() { Clear(); }
  SqliteStatementCache(const SqliteStatementCache&) = delete;
  SqliteStatementCache& operator=(const SqliteStatementCache&) = delete;

  // The cached statement for key, lent to the caller until Give or
  // Forget; null when there is none or it is lent already.
  sqlite3_stmt* Take(const std::string& key);
  // Keeps stmt for key (or finalizes it when the cache holds no room or
  // another statement of that key).
  void Give(const std::string& key, sqlite3_stmt* stmt);
  // The caller finalizes stmt itself: the cache no longer knows it.
  void Forget(const std::string& key, sqlite3_stmt* stmt);
  // Finalizes every statement not lent; lent ones are left to their
  // borrowers, and kept again when they come back.
  void Clear();
  size_t Size() const { return m_entries.size(); }
  bool Enabled() const { return m_capacity > 0; }

 private:
  struct Entry {
    std::string key;
    sqlite3_stmt* stmt;
    bool lent;
  };
  using Place = std::list<Entry>::iterator;
  // Takes the entry out of the cache; finalizes its statement unless lent.
  void Drop(Place place);

  size_t m_capacity;
  std::list<Entry> m_entries;  // most recently used first
  std::unordered_map<std::string_view, Place> m_index;  // views of the entries' keys
};

}  // namespace kvdbal
