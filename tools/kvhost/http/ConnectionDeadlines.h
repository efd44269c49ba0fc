// Deadlines for the parts of a request a client controls: its whole head,
// and its whole body. A client that sends a byte now and then would never
// meet an inactivity timeout; here the clock runs from the start of the
// head (a new connection, or the end of the previous request on a
// keep-alive one, which also ends idle connections) and from the start of
// the body. A connection past its deadline is shut down from a watch
// thread, which the connection's own thread then sees as the client going.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

class ConnectionDeadlines {
 public:
  using Clock = std::chrono::steady_clock;
  ConnectionDeadlines(Clock::duration head, Clock::duration body);
  ~ConnectionDeadlines();
  ConnectionDeadlines(const ConnectionDeadlines&) = delete;
  ConnectionDeadlines& operator=(const ConnectionDeadlines&) = delete;

  // key: the connection; fd: its socket, open until Closed(key) is called.
  void Opened(const void* key, int fd);
  void Closed(const void* key);
  // The phases of a request on the connection.
  void HeadStarts(const void* key);
  void BodyStarts(const void* key);
  // Running the page and sending the answer have no deadline here.
  void RequestComplete(const void* key);

 private:
  void Set(const void* key, Clock::time_point deadline);
  void Watch();

  struct Entry {
    int fd;
    Clock::time_point deadline;
  };
  const Clock::duration m_head, m_body;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;
  std::unordered_map<const void*, Entry> m_connections;
  std::thread m_watcher;
};
