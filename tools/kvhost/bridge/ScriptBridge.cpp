#include "bridge/ScriptBridge.h"

ScriptBridge& GetScriptBridge(duk_context* ctx) {
  duk_memory_functions functions;
  duk_get_memory_functions(ctx, &functions);
  return *static_cast<ScriptBridge*>(functions.udata);
}

void RaiseScriptError(duk_context* ctx, duk_errcode_t kind, const char* message) {
  duk_push_error_object(ctx, kind | kBlamePageLine, "%s", message);
  (void)duk_throw(ctx);
  __builtin_unreachable();
}
