// Turns handed out first come, first served: at most `width` holders at a
// time, the others wait in the order they asked. The server runs a page in
// the thread of its connection once it holds a turn of its session (width
// one: a session's requests run one after another) and one of the page
// slots (width: the number of pages that may run at once). A caller that
// finds no free turn joins the end of a queue; a turn given back goes to
// the head of the queue and wakes that caller alone, so a late caller
// cannot overtake one that waits, and the others sleep on.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

class ArrivalOrderTurns {
 public:
  explicit ArrivalOrderTurns(size_t width) : m_width(width), m_free(width) {}
  ArrivalOrderTurns(const ArrivalOrderTurns&) = delete;
  ArrivalOrderTurns& operator=(const ArrivalOrderTurns&) = delete;

  // Held for as long as it lives; given back on every way out.
  class Turn {
   public:
    explicit Turn(ArrivalOrderTurns& turns) : m_turns(turns) { m_turns.Take(); }
    ~Turn() { m_turns.Give(); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

   private:
    ArrivalOrderTurns& m_turns;
  };

  // Whether a turn is held or waited for.
  bool InUse();
  // How many callers wait for a turn.
  size_t Waiting();

 private:
  void Take();
  void Give();

  struct Waiter {
    std::condition_variable wake;
    bool admitted = false;
  };

  const size_t m_width;
  std::mutex m_mutex;
  size_t m_free;
  std::deque<Waiter*> m_waiters;
};
