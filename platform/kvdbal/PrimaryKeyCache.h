// The primary key columns of the tables a connection has written to, looked
// up once per table (names compare case-insensitively, as both engines do)
// and forgotten when a statement may have changed the schema.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "../com/AsciiCase.h"

namespace kvdbal {

class PrimaryKeyCache {
 public:
  // The columns of table, loaded by load(table) the first time.
  template <typename Load>
  const std::vector<std::string>& Get(const std::string& table, Load&& load) {
    std::string key = LowerAscii(table);
    auto found = m_columns.find(key);
    if (found != m_columns.end()) return found->second;
    return m_columns.emplace(std::move(key), load(table)).first->second;
  }
  void Clear() { m_columns.clear(); }

 private:
  std::unordered_map<std::string, std::vector<std::string>> m_columns;
};

}  // namespace kvdbal
