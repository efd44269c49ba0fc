/* The engine and the record of its built-ins in one translation unit: the
 * record reads the engine's object layout, which only the engine's own
 * source knows. */
#include "duktape.c"

#include <stdlib.h>
#include <string.h>

#include "BuiltinsSnapshot.h"

typedef struct {
	duk_hobject *object;
	duk_uint32_t flags; /* the object's own flags, not the collector's */
	duk_hobject *prototype;
	duk_uint32_t entries;
	duk_uint32_t entry_size;
	duk_uint32_t array_size;
	duk_uint32_t hash_size;
	duk_uint32_t array_length; /* arrays: .length and whether it is writable */
	duk_bool_t array_length_fixed;
	size_t first_byte; /* of its property table */
} KvObjectRecord;

struct KvBuiltinsSnapshot {
	KvObjectRecord *objects;
	size_t object_count, object_capacity;
	unsigned char *bytes;
	size_t byte_count, byte_capacity;
	/* Open-addressed set of the objects recorded (capacity a power of 2). */
	duk_hobject **seen;
	size_t seen_capacity;
	int failed;
	duk_hthread *thr;
	/* Set while the walk freezes the built-in methods instead of recording. */
	int freezing;
};

static int kv__grow(void **items, size_t *capacity, size_t count, size_t item_size) {
	size_t wanted;
	void *grown;
	if (count < *capacity) {
		return 1;
	}
	wanted = *capacity ? *capacity * 2 : 64;
	grown = realloc(*items, wanted * item_size);
	if (!grown) {
		return 0;
	}
	*items = grown;
	*capacity = wanted;
	return 1;
}

static size_t kv__slot(const KvBuiltinsSnapshot *s, duk_hobject *h) {
	size_t slot = ((size_t) (duk_uintptr_t) h >> 4) * 2654435761u;
	return slot & (s->seen_capacity - 1);
}

/* 1 when h is newly added to the seen set. */
static int kv__first_visit(KvBuiltinsSnapshot *s, duk_hobject *h) {
	size_t i;
	if ((s->object_count + 1) * 2 > s->seen_capacity) {
		size_t old_capacity = s->seen_capacity;
		duk_hobject **old = s->seen;
		size_t j;
		s->seen_capacity = old_capacity ? old_capacity * 2 : 1024;
		s->seen = (duk_hobject **) calloc(s->seen_capacity, sizeof(duk_hobject *));
		if (!s->seen) {
			s->seen = old;
			s->seen_capacity = old_capacity;
			s->failed = 1;
			return 0;
		}
		for (j = 0; j < old_capacity; j++) {
			if (old[j]) {
				for (i = kv__slot(s, old[j]); s->seen[i]; i = (i + 1) & (s->seen_capacity - 1)) {
				}
				s->seen[i] = old[j];
			}
		}
		free(old);
	}
	for (i = kv__slot(s, h); s->seen[i]; i = (i + 1) & (s->seen_capacity - 1)) {
		if (s->seen[i] == h) {
			return 0;
		}
	}
	s->seen[i] = h;
	return 1;
}

static void kv__record(KvBuiltinsSnapshot *s, duk_heap *heap, duk_hobject *h);

static void kv__follow_object(KvBuiltinsSnapshot *s, duk_heap *heap, duk_hobject *h) {
	if (h && !s->failed && kv__first_visit(s, h)) {
		kv__record(s, heap, h);
	}
}

static void kv__follow_value(KvBuiltinsSnapshot *s, duk_heap *heap, duk_tval *tv) {
	if (DUK_TVAL_IS_OBJECT(tv)) {
		kv__follow_object(s, heap, DUK_TVAL_GET_OBJECT(tv));
	} else if (DUK_TVAL_IS_BUFFER(tv)) {
		/* Buffer bytes can change in place; none is expected among the
		 * built-ins, so one is a reason not to trust the record. */
		s->failed = 1;
	}
}

/* Appends size bytes from p to the record. */
static void kv__append(KvBuiltinsSnapshot *s, const void *p, size_t size) {
	while (s->byte_count + size > s->byte_capacity) {
		if (!kv__grow((void **) &s->bytes, &s->byte_capacity, s->byte_capacity, 1)) {
			s->failed = 1;
			return;
		}
	}
	if (size > 0) {
		memcpy(s->bytes + s->byte_count, p, size);
	}
	s->byte_count += size;
}

/* An object's property table: entries (keys, values, attributes), array
 * part and hash part in one block. Slots not in use hold whatever they
 * held, which stays so until a property is added, and that shows anyway. */
#define KV__TABLE_BYTES(h) \
	((size_t) DUK_HOBJECT_P_COMPUTE_SIZE(DUK_HOBJECT_GET_ESIZE(h), DUK_HOBJECT_GET_ASIZE(h), DUK_HOBJECT_GET_HSIZE(h)))

/* A built-in method: a native function with no own property but its
 * length and name. */
static int kv__is_method(duk_heap *heap, duk_hobject *h) {
	duk_uint32_t i;
	if (!DUK_HOBJECT_IS_NATFUNC(h) || DUK_HOBJECT_GET_ASIZE(h) > 0) {
		return 0;
	}
	for (i = 0; i < DUK_HOBJECT_GET_ENEXT(h); i++) {
		duk_hstring *key = DUK_HOBJECT_E_GET_KEY(heap, h, i);
		if (key && key != DUK_HEAP_STRING_LENGTH(heap) && key != DUK_HEAP_STRING_NAME(heap)) {
			return 0;
		}
	}
	return 1;
}

/* 1 when nothing of h can change any more: frozen, and none of the objects
 * that keep state outside their property table. */
static int kv__frozen(duk_hthread *thr, duk_hobject *h) {
	return !DUK_HOBJECT_IS_ARRAY(h) && !DUK_HOBJECT_HAS_EXOTIC_ARGUMENTS(h) && !DUK_HOBJECT_IS_BUFOBJ(h) &&
	       !DUK_HOBJECT_IS_PROXY(h) && !DUK_HOBJECT_IS_THREAD(h) &&
	       duk_hobject_object_is_sealed_frozen_helper(thr, h, 1 /*is_frozen*/);
}

static void kv__follow_references(KvBuiltinsSnapshot *s, duk_heap *heap, duk_hobject *h);

static void kv__record(KvBuiltinsSnapshot *s, duk_heap *heap, duk_hobject *h) {
	KvObjectRecord *o;

	if (s->freezing) {
		if (kv__is_method(heap, h)) {
			duk_hobject_object_seal_freeze_helper(s->thr, h, 1 /*is_freeze*/);
		}
		kv__follow_references(s, heap, h);
		return;
	}
	if (kv__frozen(s->thr, h)) {
		/* Nothing to record; what it refers to may still change. */
		kv__follow_references(s, heap, h);
		return;
	}
	if (!kv__grow((void **) &s->objects, &s->object_capacity, s->object_count, sizeof(KvObjectRecord))) {
		s->failed = 1;
		return;
	}
	if (DUK_HOBJECT_IS_BUFOBJ(h) || DUK_HOBJECT_IS_PROXY(h) || DUK_HOBJECT_IS_THREAD(h)) {
		/* State outside the property table: not recorded, so not trusted. */
		s->failed = 1;
		return;
	}
	o = &s->objects[s->object_count++];
	memset(o, 0, sizeof(*o));
	o->object = h;
	o->flags = DUK_HEAPHDR_GET_FLAGS_RAW(&h->hdr) >> DUK_HEAPHDR_FLAGS_USER_START;
	o->prototype = DUK_HOBJECT_GET_PROTOTYPE(heap, h);
	o->entries = DUK_HOBJECT_GET_ENEXT(h);
	o->entry_size = DUK_HOBJECT_GET_ESIZE(h);
	o->array_size = DUK_HOBJECT_GET_ASIZE(h);
	o->hash_size = DUK_HOBJECT_GET_HSIZE(h);
	if (DUK_HOBJECT_IS_ARRAY(h)) {
		o->array_length = ((duk_harray *) h)->length;
		o->array_length_fixed = ((duk_harray *) h)->length_nonwritable;
	}
	o->first_byte = s->byte_count;
	kv__append(s, DUK_HOBJECT_GET_PROPS(heap, h), KV__TABLE_BYTES(h));

	/* Follow what the object refers to once its own record is complete
	 * (recursion may move the arrays). */
	kv__follow_references(s, heap, h);
}

static void kv__follow_references(KvBuiltinsSnapshot *s, duk_heap *heap, duk_hobject *h) {
	duk_uint32_t i;
	kv__follow_object(s, heap, DUK_HOBJECT_GET_PROTOTYPE(heap, h));
	for (i = 0; i < DUK_HOBJECT_GET_ENEXT(h) && !s->failed; i++) {
		if (!DUK_HOBJECT_E_GET_KEY(heap, h, i)) {
			continue;
		}
		if (DUK_HOBJECT_E_SLOT_IS_ACCESSOR(heap, h, i)) {
			kv__follow_object(s, heap, DUK_HOBJECT_E_GET_VALUE_GETTER(heap, h, i));
			kv__follow_object(s, heap, DUK_HOBJECT_E_GET_VALUE_SETTER(heap, h, i));
		} else {
			kv__follow_value(s, heap, DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, h, i));
		}
	}
	for (i = 0; i < DUK_HOBJECT_GET_ASIZE(h) && !s->failed; i++) {
		kv__follow_value(s, heap, DUK_HOBJECT_A_GET_VALUE_PTR(heap, h, i));
	}
}

void KvFreezeBuiltinMethods(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	KvBuiltinsSnapshot walk;
	duk_small_uint_t i;
	memset(&walk, 0, sizeof(walk));
	walk.thr = thr;
	walk.freezing = 1;
	for (i = 0; i < DUK_NUM_BUILTINS && !walk.failed; i++) {
		kv__follow_object(&walk, thr->heap, thr->builtins[i]);
	}
	free(walk.seen);
}

KvBuiltinsSnapshot *KvRecordBuiltins(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	KvBuiltinsSnapshot *s = (KvBuiltinsSnapshot *) calloc(1, sizeof(KvBuiltinsSnapshot));
	duk_small_uint_t i;
	if (!s) {
		return NULL;
	}
	s->thr = thr;
	for (i = 0; i < DUK_NUM_BUILTINS && !s->failed; i++) {
		kv__follow_object(s, thr->heap, thr->builtins[i]);
	}
	free(s->seen);
	s->seen = NULL;
	if (s->failed) {
		KvFreeBuiltinsSnapshot(s);
		return NULL;
	}
	return s;
}

/* The bytes compared are those the record copied: a value written again
 * may differ in bits the engine does not read (the rest of a boolean's
 * word), which only makes a change show where there is none. */
int KvBuiltinsUnchanged(duk_context *ctx, const KvBuiltinsSnapshot *s) {
	duk_heap *heap = ((duk_hthread *) ctx)->heap;
	size_t n;
	for (n = 0; n < s->object_count; n++) {
		const KvObjectRecord *o = &s->objects[n];
		duk_hobject *h = o->object;
		if ((DUK_HEAPHDR_GET_FLAGS_RAW(&h->hdr) >> DUK_HEAPHDR_FLAGS_USER_START) != o->flags ||
		    DUK_HOBJECT_GET_PROTOTYPE(heap, h) != o->prototype || DUK_HOBJECT_GET_ENEXT(h) != o->entries ||
		    DUK_HOBJECT_GET_ESIZE(h) != o->entry_size || DUK_HOBJECT_GET_ASIZE(h) != o->array_size ||
		    DUK_HOBJECT_GET_HSIZE(h) != o->hash_size) {
			return 0;
		}
		if (DUK_HOBJECT_IS_ARRAY(h) && (((duk_harray *) h)->length != o->array_length ||
		                                ((duk_harray *) h)->length_nonwritable != o->array_length_fixed)) {
			return 0;
		}
		if (memcmp(s->bytes + o->first_byte, DUK_HOBJECT_GET_PROPS(heap, h), KV__TABLE_BYTES(h)) != 0) {
			return 0;
		}
	}
	return 1;
}

void KvFreeBuiltinsSnapshot(KvBuiltinsSnapshot *s) {
	if (!s) {
		return;
	}
	free(s->objects);
	free(s->bytes);
	free(s->seen);
	free(s);
}

duk_bool_t KvPushGlobalCopy(duk_context *ctx, duk_context *from) {
	duk_hthread *thr = (duk_hthread *) ctx;
	duk_heap *heap = thr->heap;
	duk_hobject *source = ((duk_hthread *) from)->builtins[DUK_BIDX_GLOBAL];
	duk_hobject *copy;
	duk_uint32_t i;

	for (i = 0; i < DUK_HOBJECT_GET_ENEXT(source); i++) {
		if (DUK_HOBJECT_E_GET_KEY(heap, source, i) && DUK_HOBJECT_E_SLOT_IS_ACCESSOR(heap, source, i)) {
			return 0;
		}
	}
	copy = duk_push_object_helper_proto(thr,
	                                    DUK_HOBJECT_FLAG_EXTENSIBLE | DUK_HOBJECT_FLAG_FASTREFS |
	                                        DUK_HOBJECT_CLASS_AS_FLAGS(DUK_HOBJECT_GET_CLASS_NUMBER(source)),
	                                    DUK_HOBJECT_GET_PROTOTYPE(heap, source));
	duk_hobject_resize_entrypart(thr, copy, DUK_HOBJECT_GET_ENEXT(source));
	/* The keys of one object are distinct and the copy starts empty with
	 * room for them all: each is appended as it is, without the search
	 * for an existing one that defining a property makes. */
	for (i = 0; i < DUK_HOBJECT_GET_ENEXT(source); i++) {
		duk_hstring *key = DUK_HOBJECT_E_GET_KEY(heap, source, i);
		duk_tval *value;
		duk_tval *slot;
		duk_int_t e_idx;
		if (!key || DUK_HSTRING_HAS_HIDDEN(key)) {
			continue;
		}
		value = DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, source, i);
		e_idx = duk__hobject_alloc_entry_checked(thr, copy, key);
		slot = DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, copy, e_idx);
		if (DUK_TVAL_IS_OBJECT(value) && DUK_TVAL_GET_OBJECT(value) == source) {
			DUK_TVAL_SET_OBJECT(slot, copy);
		} else {
			DUK_TVAL_SET_TVAL(slot, value);
		}
		DUK_TVAL_INCREF(thr, slot);
		DUK_HOBJECT_E_SET_FLAGS(heap, copy, e_idx, DUK_HOBJECT_E_GET_FLAGS(heap, source, i));
	}
	return 1;
}

void KvReleaseGlobals(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	duk_heap *heap = thr->heap;
	duk_hobject *global = thr->builtins[DUK_BIDX_GLOBAL];
	duk_uint32_t i;

	/* The references are dropped without freeing anything in the loop, so
	 * that no finalizer runs while the table is walked; then all at once. */
	for (i = 0; i < DUK_HOBJECT_GET_ENEXT(global); i++) {
		if (!DUK_HOBJECT_E_GET_KEY(heap, global, i)) {
			continue;
		}
		if (DUK_HOBJECT_E_SLOT_IS_ACCESSOR(heap, global, i)) {
			duk_hobject *getter = DUK_HOBJECT_E_GET_VALUE_GETTER(heap, global, i);
			duk_hobject *setter = DUK_HOBJECT_E_GET_VALUE_SETTER(heap, global, i);
			DUK_HOBJECT_E_SET_VALUE_GETTER(heap, global, i, NULL);
			DUK_HOBJECT_E_SET_VALUE_SETTER(heap, global, i, NULL);
			DUK_HOBJECT_DECREF_NORZ_ALLOWNULL(thr, getter);
			DUK_HOBJECT_DECREF_NORZ_ALLOWNULL(thr, setter);
		} else {
			DUK_TVAL_SET_UNDEFINED_UPDREF_NORZ(thr, DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, global, i));
		}
	}
	for (i = 0; i < DUK_HOBJECT_GET_ASIZE(global); i++) {
		DUK_TVAL_SET_UNDEFINED_UPDREF_NORZ(thr, DUK_HOBJECT_A_GET_VALUE_PTR(heap, global, i));
	}
	DUK_REFZERO_CHECK_SLOW(thr);
}

#include "CollectionTrigger.h"

long KvAllocationsBeforeCollection(duk_context* ctx) {
	return (long) ((duk_hthread *) ctx)->heap->ms_trigger_counter;
}
