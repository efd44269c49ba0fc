// The save's back-off wait, replaceable by a test: the hook sees every wait
// (and may change the database between attempts) instead of sleeping.
#pragma once

#include <functional>

#include "platform/com/ComTypes.h"

void SetSleepHook(std::function<void(DWORD)> hook);

class ScopedSleepHook {
 public:
  explicit ScopedSleepHook(std::function<void(DWORD)> hook) { SetSleepHook(std::move(hook)); }
  ~ScopedSleepHook() { SetSleepHook(nullptr); }
  ScopedSleepHook(const ScopedSleepHook&) = delete;
  ScopedSleepHook& operator=(const ScopedSleepHook&) = delete;
};
