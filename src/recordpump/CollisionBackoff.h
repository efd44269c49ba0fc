// How long a save waits after a collision before it tries again: 0-255 ms,
// drawn so that writers who collided together wait different times. Each
// thread has a generator of its own, seeded once from the kernel's entropy,
// so pumps on the workers of one server, or in processes started in the same
// second, do not draw the same waits; the process's rand() is left alone.
#pragma once

#include "platform/com/ComTypes.h"

DWORD CollisionBackoffMs();
