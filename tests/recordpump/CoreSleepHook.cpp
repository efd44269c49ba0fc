// This test program's own Sleep takes the place of the system service for
// the code linked into it. Without a hook it really sleeps, so every other
// test sees the ordinary behaviour.
#include "CoreSleepHook.h"

#include <chrono>
#include <thread>

#include "platform/win32/Win32.h"

namespace {
std::function<void(DWORD)>& Hook() {
  static std::function<void(DWORD)> hook;
  return hook;
}
}  // namespace

void SetSleepHook(std::function<void(DWORD)> hook) { Hook() = std::move(hook); }

void Sleep(DWORD dwMilliseconds) {
  if (Hook()) {
    Hook()(dwMilliseconds);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
