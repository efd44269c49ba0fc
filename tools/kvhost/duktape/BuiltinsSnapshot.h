/* A record of the engine's built-in objects, to tell whether anything has
 * changed them since: their properties (keys, attributes, values, getters
 * and setters), prototypes, extensibility and array lengths, for every
 * object reachable from the built-ins of a heap. Values are compared by
 * identity, so any change is seen; a change that restores the same state in
 * another form (a property deleted and put back) may be reported as a
 * change too. */
#pragma once

#include <duktape.h>

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct KvBuiltinsSnapshot KvBuiltinsSnapshot;

/* Records the objects reachable from the built-ins of ctx's thread. NULL
 * when memory runs out. The objects must stay alive as long as the record
 * is used (the heap's own thread keeps its built-ins alive). */
KvBuiltinsSnapshot* KvRecordBuiltins(duk_context* ctx);

/* 1 when every recorded object is as it was recorded, 0 otherwise. */
int KvBuiltinsUnchanged(duk_context* ctx, const KvBuiltinsSnapshot* snapshot);

/* How many objects the record holds. */
size_t KvBuiltinsObjectCount(const KvBuiltinsSnapshot* snapshot);

void KvFreeBuiltinsSnapshot(KvBuiltinsSnapshot* snapshot);

#if defined(__cplusplus)
}
#endif
