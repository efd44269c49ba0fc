#include "engine/EnginePool.h"

EnginePool::Lease EnginePool::Take() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_idle.empty()) {
      std::unique_ptr<PageEngine> engine = std::move(m_idle.back());
      m_idle.pop_back();
      return Lease(*this, std::move(engine));
    }
  }
  return Lease(*this, m_make());
}

size_t EnginePool::Idle() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_idle.size();
}

void EnginePool::GiveBack(std::unique_ptr<PageEngine> engine) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_idle.push_back(std::move(engine));
}
