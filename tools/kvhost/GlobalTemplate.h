// The global bindings a heap starts with (Object, Array, Math, JSON, ...),
// recorded once so that each page can be given a global object of its own
// holding the same bindings, while the built-in objects they name are
// shared by every page of the heap.
#pragma once

#include <vector>

#include <duktape.h>

class GlobalTemplate {
 public:
  // Records the own properties of ctx's global object. Raises a script
  // error when memory runs out: call it inside a protected call.
  void Record(duk_context* ctx);
  // Gives ctx's thread a new global object with the recorded bindings (and
  // a new global scope for it). Raises a script error when memory runs out.
  void InstallFreshGlobal(duk_context* ctx) const;

 private:
  enum class Kind { HeapValue, Number, Boolean, Undefined, Null, TheGlobal, Accessor };
  // A property and its attributes as duk_def_prop takes them. The pointers
  // stay valid because the heap's own global object, which holds them, is
  // never changed.
  struct Binding {
    void* key = nullptr;
    duk_uint_t flags = 0;
    Kind kind = Kind::Undefined;
    void* value = nullptr;  // HeapValue: an object or a string; Accessor: the getter
    void* setter = nullptr;
    double number = 0;      // Number and Boolean
  };
  std::vector<Binding> m_bindings;
};
