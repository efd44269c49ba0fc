#include "GlobalTemplate.h"

namespace {

bool DescriptorFlag(duk_context* ctx, const char* name) {
  duk_get_prop_string(ctx, -1, name);
  bool set = duk_to_boolean(ctx, -1);
  duk_pop(ctx);
  return set;
}

void PushHeapValue(duk_context* ctx, void* value) {
  if (value)
    duk_push_heapptr(ctx, value);
  else
    duk_push_undefined(ctx);
}

}  // namespace

void GlobalTemplate::Record(duk_context* ctx) {
  m_bindings.clear();
  duk_push_global_object(ctx);
  void* global = duk_get_heapptr(ctx, -1);
  duk_enum(ctx, -1, DUK_ENUM_OWN_PROPERTIES_ONLY | DUK_ENUM_INCLUDE_NONENUMERABLE | DUK_ENUM_INCLUDE_SYMBOLS);
  while (duk_next(ctx, -1, 0)) {  // [global enum key]
    Binding binding;
    binding.key = duk_get_heapptr(ctx, -1);
    duk_get_prop_desc(ctx, -3, 0);  // [global enum descriptor]
    binding.flags = DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_HAVE_CONFIGURABLE;
    if (DescriptorFlag(ctx, "enumerable")) binding.flags |= DUK_DEFPROP_ENUMERABLE;
    if (DescriptorFlag(ctx, "configurable")) binding.flags |= DUK_DEFPROP_CONFIGURABLE;
    if (duk_has_prop_string(ctx, -1, "get") || duk_has_prop_string(ctx, -1, "set")) {
      binding.kind = Kind::Accessor;
      binding.flags |= DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_SETTER;
      duk_get_prop_string(ctx, -1, "get");
      binding.value = duk_get_heapptr(ctx, -1);
      duk_get_prop_string(ctx, -2, "set");
      binding.setter = duk_get_heapptr(ctx, -1);
      duk_pop_2(ctx);
    } else {
      binding.flags |= DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_WRITABLE;
      if (DescriptorFlag(ctx, "writable")) binding.flags |= DUK_DEFPROP_WRITABLE;
      duk_get_prop_string(ctx, -1, "value");
      if (duk_get_heapptr(ctx, -1) == global) {
        binding.kind = Kind::TheGlobal;  // globalThis names each page's own
      } else if (duk_is_object(ctx, -1) || duk_is_string(ctx, -1)) {
        binding.kind = Kind::HeapValue;
        binding.value = duk_get_heapptr(ctx, -1);
      } else if (duk_is_number(ctx, -1) || duk_is_boolean(ctx, -1)) {
        binding.kind = duk_is_number(ctx, -1) ? Kind::Number : Kind::Boolean;
        binding.number = duk_to_number(ctx, -1);
      } else {
        binding.kind = duk_is_null(ctx, -1) ? Kind::Null : Kind::Undefined;
      }
      duk_pop(ctx);
    }
    duk_pop(ctx);
    m_bindings.push_back(binding);
  }
  duk_pop_2(ctx);
}

void GlobalTemplate::InstallFreshGlobal(duk_context* ctx) const {
  duk_push_object(ctx);
  const duk_idx_t global = duk_get_top_index(ctx);
  for (const Binding& binding : m_bindings) {
    duk_push_heapptr(ctx, binding.key);
    switch (binding.kind) {
      case Kind::Accessor:
        PushHeapValue(ctx, binding.value);
        PushHeapValue(ctx, binding.setter);
        break;
      case Kind::HeapValue: duk_push_heapptr(ctx, binding.value); break;
      case Kind::TheGlobal: duk_dup(ctx, global); break;
      case Kind::Number: duk_push_number(ctx, binding.number); break;
      case Kind::Boolean: duk_push_boolean(ctx, binding.number != 0); break;
      case Kind::Null: duk_push_null(ctx); break;
      case Kind::Undefined: duk_push_undefined(ctx); break;
    }
    duk_def_prop(ctx, global, binding.flags);
  }
  duk_set_global_object(ctx);
}
