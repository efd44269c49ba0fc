#include "base/ArrivalOrderTurns.h"

bool ArrivalOrderTurns::InUse() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_free < m_width;
}

size_t ArrivalOrderTurns::Waiting() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_waiters.size();
}

void ArrivalOrderTurns::Take() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_free > 0) {
    // A free turn means nobody waits: a turn given back while somebody
    // waits goes to them.
    --m_free;
    return;
  }
  Waiter waiter;
  m_waiters.push_back(&waiter);
  waiter.wake.wait(lock, [&waiter] { return waiter.admitted; });
}

void ArrivalOrderTurns::Give() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_waiters.empty()) {
    ++m_free;
    return;
  }
  Waiter* next = m_waiters.front();
  m_waiters.pop_front();
  next->admitted = true;
  // Woken under the lock: the waiter cannot see `admitted`, return and
  // take its Waiter off the stack before this call is done with it.
  next->wake.notify_one();
}
