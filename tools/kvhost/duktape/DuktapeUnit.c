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
	duk_uint32_t array_size;
	duk_uint32_t array_length; /* arrays: .length and whether it is writable */
	duk_bool_t array_length_fixed;
	size_t first_property;
	size_t first_element;
} KvObjectRecord;

typedef struct {
	duk_hstring *key;
	duk_uint8_t flags;
	duk_tval value;
	duk_hobject *getter;
	duk_hobject *setter;
} KvPropertyRecord;

struct KvBuiltinsSnapshot {
	KvObjectRecord *objects;
	size_t object_count, object_capacity;
	KvPropertyRecord *properties;
	size_t property_count, property_capacity;
	duk_tval *elements;
	size_t element_count, element_capacity;
	/* Open-addressed set of the objects recorded (capacity a power of 2). */
	duk_hobject **seen;
	size_t seen_capacity;
	int failed;
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

static void kv__record(KvBuiltinsSnapshot *s, duk_heap *heap, duk_hobject *h) {
	KvObjectRecord *o;
	duk_uint32_t i;
	size_t index;

	if (!kv__grow((void **) &s->objects, &s->object_capacity, s->object_count, sizeof(KvObjectRecord))) {
		s->failed = 1;
		return;
	}
	if (DUK_HOBJECT_IS_BUFOBJ(h) || DUK_HOBJECT_IS_PROXY(h) || DUK_HOBJECT_IS_THREAD(h)) {
		/* State outside the property table: not recorded, so not trusted. */
		s->failed = 1;
		return;
	}
	index = s->object_count++;
	o = &s->objects[index];
	memset(o, 0, sizeof(*o));
	o->object = h;
	o->flags = DUK_HEAPHDR_GET_FLAGS_RAW(&h->hdr) >> DUK_HEAPHDR_FLAGS_USER_START;
	o->prototype = DUK_HOBJECT_GET_PROTOTYPE(heap, h);
	o->entries = DUK_HOBJECT_GET_ENEXT(h);
	o->array_size = DUK_HOBJECT_GET_ASIZE(h);
	if (DUK_HOBJECT_IS_ARRAY(h)) {
		o->array_length = ((duk_harray *) h)->length;
		o->array_length_fixed = ((duk_harray *) h)->length_nonwritable;
	}
	o->first_property = s->property_count;
	o->first_element = s->element_count;

	for (i = 0; i < o->entries; i++) {
		KvPropertyRecord *p;
		if (!kv__grow((void **) &s->properties, &s->property_capacity, s->property_count, sizeof(KvPropertyRecord))) {
			s->failed = 1;
			return;
		}
		p = &s->properties[s->property_count++];
		memset(p, 0, sizeof(*p));
		p->key = DUK_HOBJECT_E_GET_KEY(heap, h, i);
		p->flags = DUK_HOBJECT_E_GET_FLAGS(heap, h, i);
		if (!p->key) {
			continue;
		}
		if (p->flags & DUK_PROPDESC_FLAG_ACCESSOR) {
			p->getter = DUK_HOBJECT_E_GET_VALUE_GETTER(heap, h, i);
			p->setter = DUK_HOBJECT_E_GET_VALUE_SETTER(heap, h, i);
		} else {
			DUK_TVAL_SET_TVAL(&p->value, DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, h, i));
		}
	}
	for (i = 0; i < o->array_size; i++) {
		if (!kv__grow((void **) &s->elements, &s->element_capacity, s->element_count, sizeof(duk_tval))) {
			s->failed = 1;
			return;
		}
		DUK_TVAL_SET_TVAL(&s->elements[s->element_count++], DUK_HOBJECT_A_GET_VALUE_PTR(heap, h, i));
	}

	/* Follow what the object refers to once its own record is complete
	 * (recursion may move the arrays). */
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

/* Same value by identity: the same object or string, the same bits of a
 * number. */
static int kv__same_value(duk_tval *a, duk_tval *b) {
	if (DUK_TVAL_GET_TAG(a) != DUK_TVAL_GET_TAG(b)) {
		return 0;
	}
	if (DUK_TVAL_IS_HEAP_ALLOCATED(a)) {
		return DUK_TVAL_GET_HEAPHDR(a) == DUK_TVAL_GET_HEAPHDR(b);
	}
	if (DUK_TVAL_IS_BOOLEAN(a)) {
		return DUK_TVAL_GET_BOOLEAN(a) == DUK_TVAL_GET_BOOLEAN(b);
	}
	if (DUK_TVAL_IS_POINTER(a)) {
		return DUK_TVAL_GET_POINTER(a) == DUK_TVAL_GET_POINTER(b);
	}
	if (DUK_TVAL_IS_LIGHTFUNC(a)) {
		duk_c_function fa, fb;
		duk_small_uint_t la, lb;
		DUK_TVAL_GET_LIGHTFUNC(a, fa, la);
		DUK_TVAL_GET_LIGHTFUNC(b, fb, lb);
		return fa == fb && la == lb;
	}
	if (DUK_TVAL_IS_NUMBER(a)) {
		duk_double_t x = DUK_TVAL_GET_NUMBER(a), y = DUK_TVAL_GET_NUMBER(b);
		return memcmp(&x, &y, sizeof(x)) == 0;
	}
	return 1; /* undefined, null, unused: the tag says it all */
}

KvBuiltinsSnapshot *KvRecordBuiltins(duk_context *ctx) {
	duk_hthread *thr = (duk_hthread *) ctx;
	KvBuiltinsSnapshot *s = (KvBuiltinsSnapshot *) calloc(1, sizeof(KvBuiltinsSnapshot));
	duk_small_uint_t i;
	if (!s) {
		return NULL;
	}
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

int KvBuiltinsUnchanged(duk_context *ctx, const KvBuiltinsSnapshot *s) {
	duk_heap *heap = ((duk_hthread *) ctx)->heap;
	size_t n;
	for (n = 0; n < s->object_count; n++) {
		const KvObjectRecord *o = &s->objects[n];
		duk_hobject *h = o->object;
		duk_uint32_t i;
		if ((DUK_HEAPHDR_GET_FLAGS_RAW(&h->hdr) >> DUK_HEAPHDR_FLAGS_USER_START) != o->flags ||
		    DUK_HOBJECT_GET_PROTOTYPE(heap, h) != o->prototype || DUK_HOBJECT_GET_ENEXT(h) != o->entries ||
		    DUK_HOBJECT_GET_ASIZE(h) != o->array_size) {
			return 0;
		}
		if (DUK_HOBJECT_IS_ARRAY(h) && (((duk_harray *) h)->length != o->array_length ||
		                                ((duk_harray *) h)->length_nonwritable != o->array_length_fixed)) {
			return 0;
		}
		for (i = 0; i < o->entries; i++) {
			KvPropertyRecord *p = &s->properties[o->first_property + i];
			if (DUK_HOBJECT_E_GET_KEY(heap, h, i) != p->key) {
				return 0;
			}
			if (!p->key) {
				continue;
			}
			if (DUK_HOBJECT_E_GET_FLAGS(heap, h, i) != p->flags) {
				return 0;
			}
			if (p->flags & DUK_PROPDESC_FLAG_ACCESSOR) {
				if (DUK_HOBJECT_E_GET_VALUE_GETTER(heap, h, i) != p->getter ||
				    DUK_HOBJECT_E_GET_VALUE_SETTER(heap, h, i) != p->setter) {
					return 0;
				}
			} else if (!kv__same_value(DUK_HOBJECT_E_GET_VALUE_TVAL_PTR(heap, h, i), &p->value)) {
				return 0;
			}
		}
		for (i = 0; i < o->array_size; i++) {
			if (!kv__same_value(DUK_HOBJECT_A_GET_VALUE_PTR(heap, h, i), &s->elements[o->first_element + i])) {
				return 0;
			}
		}
	}
	return 1;
}

size_t KvBuiltinsObjectCount(const KvBuiltinsSnapshot *s) {
	return s->object_count;
}

void KvFreeBuiltinsSnapshot(KvBuiltinsSnapshot *s) {
	if (!s) {
		return;
	}
	free(s->objects);
	free(s->properties);
	free(s->elements);
	free(s->seen);
	free(s);
}
