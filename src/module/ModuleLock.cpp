#include "ModuleLock.h"

#include <atomic>

namespace {
std::atomic<LONG> g_lockCount{0};
}

void ModuleLock() { g_lockCount.fetch_add(1, std::memory_order_acq_rel); }
void ModuleUnlock() { g_lockCount.fetch_sub(1, std::memory_order_acq_rel); }
LONG ModuleLockCount() { return g_lockCount.load(std::memory_order_acquire); }
