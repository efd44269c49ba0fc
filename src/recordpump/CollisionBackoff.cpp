#include "CollisionBackoff.h"

#include <random>

DWORD CollisionBackoffMs() {
  thread_local std::minstd_rand generator{std::random_device{}()};
  return static_cast<DWORD>(generator() & 0xFF);
}
