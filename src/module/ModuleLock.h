// The module's lock count: every live object and every LockServer(TRUE)
// holds one; DllCanUnloadNow answers S_OK only at 0.
#pragma once

#include "../outside/Com.h"

void ModuleLock();
void ModuleUnlock();
LONG ModuleLockCount();
