#include "base/FairSlots.h"

bool FairSlots::Take() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (m_closed) return false;
  if (m_free > 0 && m_waiting.empty()) {
    --m_free;
    ++m_held;
    return true;
  }
  Waiter waiter;
  m_waiting.push_back(&waiter);
  waiter.wake.wait(lock, [&] { return waiter.granted || m_closed; });
  if (waiter.granted) return true;  // handed over before the close
  for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
    if (*it == &waiter) {
      m_waiting.erase(it);
      break;
    }
  }
  return false;
}

void FairSlots::GiveBack() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_waiting.empty() || m_closed) {
    --m_held;
    ++m_free;
    return;
  }
  // The slot stays held: it changes hands without being free for a moment.
  Waiter* next = m_waiting.front();
  m_waiting.pop_front();
  next->granted = true;
  next->wake.notify_one();
}

void FairSlots::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_closed = true;
  for (Waiter* waiter : m_waiting) waiter->wake.notify_one();
}

bool FairSlots::InUse() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_held > 0 || !m_waiting.empty();
}

size_t FairSlots::Waiting() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_waiting.size();
}
