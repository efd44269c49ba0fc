/* How close a heap is to its next voluntary garbage collection, which the
 * engine otherwise runs inside whichever allocation reaches it. */
#pragma once

#include <duktape.h>

#if defined(__cplusplus)
extern "C" {
#endif

/* Allocations left before the heap of ctx collects on its own. */
long KvAllocationsBeforeCollection(duk_context* ctx);

#if defined(__cplusplus)
}
#endif
