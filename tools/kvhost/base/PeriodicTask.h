// Runs a task every so often on a thread of its own until it goes; its
// destructor wakes the thread and waits for it, so a task never outlives
// the object it works on. Declare it as the owner's last member: it then
// starts after, and stops before, everything the task uses.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class PeriodicTask {
 public:
  // every: the pause between two runs; zero or less starts no thread.
  PeriodicTask(std::chrono::steady_clock::duration every, std::function<void()> task) {
    if (every <= std::chrono::steady_clock::duration::zero()) return;
    m_thread = std::thread([this, every, task = std::move(task)] {
      std::unique_lock<std::mutex> lock(m_mutex);
      while (!m_wake.wait_for(lock, every, [this] { return m_stopping; })) {
        lock.unlock();
        task();
        lock.lock();
      }
    });
  }
  ~PeriodicTask() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }
  PeriodicTask(const PeriodicTask&) = delete;
  PeriodicTask& operator=(const PeriodicTask&) = delete;

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;
  std::thread m_thread;
};
