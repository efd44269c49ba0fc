// The threads that run pages: a fixed number, taking requests in the order
// they arrived. A connection waiting for its client (a slow head or body,
// an idle keep-alive) never holds one; only a request that is complete and
// ready to run is handed to them.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class PageWorkers {
 public:
  // A job is called with true on a worker; with false, at once on the
  // submitting thread, when the workers are closed and will take no more.
  using Job = std::function<void(bool run)>;

  explicit PageWorkers(size_t count);
  // Closes and waits for the jobs already taken.
  ~PageWorkers();
  PageWorkers(const PageWorkers&) = delete;
  PageWorkers& operator=(const PageWorkers&) = delete;

  void Submit(Job job);
  // Takes no new jobs; the queued ones still run. Returns when all ran.
  void Close();

 private:
  void Work();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Job> m_queue;
  bool m_closed = false;
  std::vector<std::thread> m_threads;
};
