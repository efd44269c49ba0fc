#include "http/PageWorkers.h"

#include <cstdio>
#include <exception>

PageWorkers::PageWorkers(size_t count) {
  for (size_t i = 0; i < count; ++i) m_threads.emplace_back([this] { Work(); });
}

PageWorkers::~PageWorkers() { Close(); }

void PageWorkers::Submit(Job job) {
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_closed) {
      m_queue.push_back(std::move(job));
      queued = true;
    }
  }
  if (queued) {
    // Woken after the lock is let go, a worker finds it free rather than
    // waking only to wait for it.
    m_wake.notify_one();
    return;
  }
  job(false);
}

void PageWorkers::Close() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
  }
  m_wake.notify_all();
  for (std::thread& thread : m_threads)
    if (thread.joinable()) thread.join();
}

void PageWorkers::Work() {
  while (true) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait(lock, [this] { return m_closed || !m_queue.empty(); });
      // Jobs submitted before the close still run.
      if (m_queue.empty()) return;
      job = std::move(m_queue.front());
      m_queue.pop_front();
    }
    // Whatever a job throws, the worker stays: a lost worker would leave
    // the server one page slot short for good.
    try {
      job(true);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kvhost: a page worker caught: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "kvhost: a page worker caught an exception of unknown type\n");
    }
  }
}
