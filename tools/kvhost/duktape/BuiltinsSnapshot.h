/* The engine's built-in objects shared by the pages of a heap: a record of
 * them, to tell whether anything has changed them since, and a new global
 * object holding the same bindings as the heap's own, emptied when its page
 * ends.
 *
 * The record holds, for every object reachable from the built-ins of a
 * heap, its property table as it is in memory (keys, attributes, values,
 * getters and setters), its array part, prototype, extensibility and array
 * length. Any change to them shows; a change that restores the same state
 * in another form (a property deleted and put back, the same value written
 * again) may show too. */
#pragma once

#include <duktape.h>

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct KvBuiltinsSnapshot KvBuiltinsSnapshot;

/* Freezes the built-in methods reachable from the built-ins of ctx's
 * thread: the native functions with no own property but their length and
 * name. A page can still replace a method on its object; it can no longer
 * add properties to the method itself, which no page does, and the record
 * below has nothing to watch on it. Raises a script error when memory runs
 * out, so it runs inside a protected call. */
void KvFreezeBuiltinMethods(duk_context* ctx);

/* Records the objects reachable from the built-ins of ctx's thread, all but
 * the frozen ones, which cannot change (what they refer to is recorded).
 * NULL
 * when memory runs out or a built-in holds state the record cannot follow.
 * The objects must stay alive as long as the record is used (the heap's own
 * thread keeps its built-ins alive). */
KvBuiltinsSnapshot* KvRecordBuiltins(duk_context* ctx);

/* 1 when every recorded object is as it was recorded, 0 otherwise. */
int KvBuiltinsUnchanged(duk_context* ctx, const KvBuiltinsSnapshot* snapshot);

void KvFreeBuiltinsSnapshot(KvBuiltinsSnapshot* snapshot);

/* Pushes onto ctx a new object with the prototype, class and own
 * properties of from's global object (a property naming that global object
 * names the new one instead; hidden ones are left out). 0, with nothing
 * pushed, when that global has a property it cannot copy (an accessor).
 * Raises a script error when memory runs out. */
duk_bool_t KvPushGlobalCopy(duk_context* ctx, duk_context* from);

/* Sets every own property of ctx's global object to undefined, whatever its
 * attributes, and frees at once what nothing else refers to. A global
 * object refers to itself, so without this everything a page left in its
 * globals would stay allocated until the next full collection. */
void KvReleaseGlobals(duk_context* ctx);

#if defined(__cplusplus)
}
#endif
