// Page engines kept for reuse: a page takes one that is idle (or a new one
// when none is) and gives it back when it ends, so that engines are made
// about as often as pages run at the same time, not once per page. An
// engine given back with work due between pages (a garbage collection that
// would otherwise land inside some later page) is tidied on the pool's own
// thread first, off every request's path, and then becomes idle; a page
// that finds no engine idle meanwhile gets a new one.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/PageEngine.h"

class EnginePool {
 public:
  using Factory = std::function<std::unique_ptr<PageEngine>()>;
  explicit EnginePool(Factory make);
  // Waits for the engine being tidied, if any.
  ~EnginePool();
  EnginePool(const EnginePool&) = delete;
  EnginePool& operator=(const EnginePool&) = delete;

  // One engine for one page at a time. Given back when the lease ends,
  // unless an exception is passing through: an engine a failure left
  // half-way is not trusted with another page.
  class Lease {
   public:
    Lease(EnginePool& pool, std::unique_ptr<PageEngine> engine)
        : m_pool(pool), m_engine(std::move(engine)), m_exceptions(std::uncaught_exceptions()) {}
    ~Lease() {
      if (std::uncaught_exceptions() == m_exceptions) m_pool.GiveBack(std::move(m_engine));
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    PageEngine& operator*() const { return *m_engine; }
    PageEngine* operator->() const { return m_engine.get(); }

   private:
    EnginePool& m_pool;
    std::unique_ptr<PageEngine> m_engine;
    int m_exceptions;
  };

  // Throws what the factory throws when a new engine cannot be made.
  Lease Take();
  // Makes engines until count are idle: one for each page that may run at
  // once and a spare for the one being tidied, so that no page waits for
  // an engine to be made once the server serves.
  void Prepare(size_t count);
  size_t Idle() const;
  // Returns once no engine waits to be tidied or is being tidied.
  void WaitUntilTidy();

 private:
  void GiveBack(std::unique_ptr<PageEngine> engine);
  void TidyEngines();

  Factory m_make;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<std::unique_ptr<PageEngine>> m_idle;
  std::deque<std::unique_ptr<PageEngine>> m_untidy;
  bool m_tidying = false;
  bool m_closing = false;
  std::thread m_tidier;
};
