// A fixed number of slots handed out in the order they were asked for. A
// thread that finds none free waits behind every thread that asked before
// it; a slot given back passes straight to the one that has waited longest,
// so a thread that has just arrived cannot take it first.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

class FairSlots {
 public:
  explicit FairSlots(size_t count) : m_free(count) {}
  FairSlots(const FairSlots&) = delete;
  FairSlots& operator=(const FairSlots&) = delete;

  // Waits for a slot: true once the caller holds one, false when the slots
  // are closed before one came its way (it then holds none).
  bool Take();
  void GiveBack();
  // Take answers false from now on, at once, and so do the waiting ones.
  // Slots already held stay held until they are given back.
  void Close();
  // Whether a slot is held or wanted.
  bool InUse();
  // How many threads wait for a slot.
  size_t Waiting();

 private:
  struct Waiter {
    std::condition_variable wake;
    bool granted = false;
  };

  std::mutex m_mutex;
  size_t m_free;
  size_t m_held = 0;
  std::deque<Waiter*> m_waiting;  // the longest waiting first
  bool m_closed = false;
};

// Holds a slot, if one could be taken, for as long as it lives.
class FairSlot {
 public:
  explicit FairSlot(FairSlots& slots) : m_slots(slots), m_held(slots.Take()) {}
  ~FairSlot() {
    if (m_held) m_slots.GiveBack();
  }
  FairSlot(const FairSlot&) = delete;
  FairSlot& operator=(const FairSlot&) = delete;
  bool Held() const { return m_held; }

 private:
  FairSlots& m_slots;
  bool m_held;
};
