#include "http/ConnectionDeadlines.h"

#include <sys/socket.h>

namespace {
constexpr auto kWatchInterval = std::chrono::milliseconds(250);
}

ConnectionDeadlines::ConnectionDeadlines(Clock::duration head, Clock::duration body)
    : m_head(head), m_body(body), m_watcher([this] { Watch(); }) {}

ConnectionDeadlines::~ConnectionDeadlines() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  m_watcher.join();
}

void ConnectionDeadlines::Opened(const void* key, int fd) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_connections[key] = Entry{fd, Clock::now() + m_head};
}

void ConnectionDeadlines::Closed(const void* key) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_connections.erase(key);
}

void ConnectionDeadlines::HeadStarts(const void* key) { Set(key, Clock::now() + m_head); }
void ConnectionDeadlines::BodyStarts(const void* key) { Set(key, Clock::now() + m_body); }
void ConnectionDeadlines::RequestComplete(const void* key) { Set(key, Clock::time_point::max()); }

void ConnectionDeadlines::Set(const void* key, Clock::time_point deadline) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (auto it = m_connections.find(key); it != m_connections.end()) it->second.deadline = deadline;
}

void ConnectionDeadlines::Watch() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_wake.wait_for(lock, kWatchInterval, [this] { return m_stopping; })) {
    const Clock::time_point now = Clock::now();
    for (auto& [key, entry] : m_connections) {
      if (entry.deadline > now) continue;
      // The socket stays open (the lock keeps Closed from running, and the
      // server closes a socket only after Closed): shutting it down makes
      // the connection's thread read its end and close the connection itself.
      shutdown(entry.fd, SHUT_RDWR);
      entry.deadline = Clock::time_point::max();
    }
  }
}
