#include "PageGlobals.h"

#include <string>

#include "MemberCall.h"
#include "LateBinding.h"
#include "ScriptBridge.h"
#include "ScriptText.h"

namespace {

// Leaves the new object, or an error, on the stack top.
bool CreateObject(duk_context* ctx) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, 0, &length);
  std::string progId = ScriptTextToUtf8(std::string_view(text, length));
  ComPtr<IDispatch> object;
  ComFailure failure;
  if (!CreateObjectByProgId(progId, &object, &failure)) {
    PushComError(ctx, failure);
    return false;
  }
  uint32_t id = GetScriptBridge(ctx).objects.Add(std::move(object), progId);
  PushLateBoundObject(ctx, id);
  return true;
}

duk_ret_t ServerCreateObject(duk_context* ctx) {
  if (!duk_is_string(ctx, 0) || duk_is_symbol(ctx, 0))
    RaiseScriptError(ctx, DUK_ERR_TYPE_ERROR, "Server.CreateObject needs a ProgID string");
  if (!CreateObject(ctx)) return duk_throw(ctx);
  return 1;
}

void WriteText(duk_context* ctx, duk_idx_t idx) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, idx, &length);
  std::string output = ScriptTextToUtf8(std::string_view(text, length));
  std::fwrite(output.data(), 1, output.size(), GetScriptBridge(ctx).output);
}

duk_ret_t ResponseWrite(duk_context* ctx) {
  if (duk_is_null_or_undefined(ctx, 0)) return 0;
  // May run the value's own toString; nothing of ours is alive yet.
  duk_to_string(ctx, 0);
  WriteText(ctx, 0);
  return 0;
}

}  // namespace

void InstallPageGlobals(duk_context* ctx, const ComPtr<IDispatch>& session) {
  duk_push_object(ctx);
  duk_push_c_function(ctx, ServerCreateObject, 1);
  duk_put_prop_string(ctx, -2, "CreateObject");
  duk_put_global_string(ctx, "Server");

  duk_push_object(ctx);
  duk_push_c_function(ctx, ResponseWrite, 1);
  duk_put_prop_string(ctx, -2, "Write");
  duk_put_global_string(ctx, "Response");

  if (session) {
    uint32_t id = GetScriptBridge(ctx).objects.Add(session, "Session");
    PushLateBoundObject(ctx, id);
  } else {
    duk_push_null(ctx);
  }
  duk_put_global_string(ctx, "Session");
}
