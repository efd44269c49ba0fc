#include "engine/EnginePool.h"

#include <cstdio>

EnginePool::EnginePool(Factory make) : m_make(std::move(make)), m_tidier([this] { TidyEngines(); }) {}

EnginePool::~EnginePool() {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_closing = true;
  }
  m_wake.notify_all();
  m_tidier.join();
}

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

void EnginePool::Prepare(size_t count) {
  while (Idle() < count) {
    std::unique_ptr<PageEngine> engine = m_make();
    std::lock_guard<std::mutex> guard(m_mutex);
    m_idle.push_back(std::move(engine));
  }
}

size_t EnginePool::Idle() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_idle.size();
}

void EnginePool::WaitUntilTidy() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_wake.wait(lock, [this] { return m_untidy.empty() && !m_tidying; });
}

void EnginePool::GiveBack(std::unique_ptr<PageEngine> engine) {
  const bool due = engine->DueForTidying();
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (due)
      m_untidy.push_back(std::move(engine));
    else
      m_idle.push_back(std::move(engine));
  }
  if (due) m_wake.notify_all();
}

void EnginePool::TidyEngines() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (true) {
    m_wake.wait(lock, [this] { return m_closing || !m_untidy.empty(); });
    // Engines still waiting at the close are dropped untidied.
    if (m_closing) return;
    std::unique_ptr<PageEngine> engine = std::move(m_untidy.front());
    m_untidy.pop_front();
    m_tidying = true;
    lock.unlock();
    try {
      engine->Tidy();
    } catch (...) {
      // An engine that failed between pages is not trusted with another.
      std::fputs("kvhost: an engine failed while it was tidied; it is dropped\n", stderr);
      engine.reset();
    }
    lock.lock();
    m_tidying = false;
    if (engine) m_idle.push_back(std::move(engine));
    m_wake.notify_all();
  }
}
