#include "ScriptBridge.h"

namespace {
constexpr const char* kStashBridge = "kvBridge";
}

void AttachScriptBridge(duk_context* ctx, ScriptBridge* bridge) {
  duk_push_global_stash(ctx);
  duk_push_pointer(ctx, bridge);
  duk_put_prop_string(ctx, -2, kStashBridge);
  duk_pop(ctx);
}

ScriptBridge& GetScriptBridge(duk_context* ctx) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kStashBridge);
  auto* bridge = static_cast<ScriptBridge*>(duk_get_pointer(ctx, -1));
  duk_pop_2(ctx);
  return *bridge;
}

void RaiseScriptError(duk_context* ctx, duk_errcode_t kind, const char* message) {
  duk_push_error_object(ctx, kind | kBlamePageLine, "%s", message);
  (void)duk_throw(ctx);
  __builtin_unreachable();
}
