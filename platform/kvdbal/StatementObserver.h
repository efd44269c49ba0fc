// Passes every statement text on its way to an engine to the observer that
// tests install. Without an observer this costs one relaxed atomic load.
#pragma once

#include <atomic>
#include <string_view>

namespace kvdbal {

extern std::atomic<bool> g_statementObserverSet;
void NotifyStatementSlow(std::string_view sql);

inline void NotifyStatement(std::string_view sql) {
  if (g_statementObserverSet.load(std::memory_order_relaxed)) NotifyStatementSlow(sql);
}

}  // namespace kvdbal
