#include "StatementObserver.h"

#include <mutex>
#include <string>

#include "KvDbal.h"

namespace kvdbal {

std::atomic<bool> g_statementObserverSet{false};

namespace {
std::mutex& ObserverMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<const std::function<void(const std::string&)>>& Observer() {
  static std::shared_ptr<const std::function<void(const std::string&)>> observer;
  return observer;
}
}  // namespace

void NotifyStatementSlow(std::string_view sql) {
  std::shared_ptr<const std::function<void(const std::string&)>> observer;
  {
    std::lock_guard lock(ObserverMutex());
    observer = Observer();
  }
  // Called outside the lock so that an observer may itself run statements.
  if (observer) (*observer)(std::string(sql));
}

}  // namespace kvdbal

void KvDbSetStatementObserver(std::function<void(const std::string&)> observer) {
  std::lock_guard lock(kvdbal::ObserverMutex());
  if (observer) {
    kvdbal::Observer() =
        std::make_shared<const std::function<void(const std::string&)>>(std::move(observer));
  } else {
    kvdbal::Observer().reset();
  }
  kvdbal::g_statementObserverSet.store(static_cast<bool>(kvdbal::Observer()),
                                       std::memory_order_relaxed);
}
