#include "page/PageGlobals.h"

#include <string>

#include "bridge/ScriptBridge.h"
#include "bridge/ScriptText.h"

PageContext& CurrentPage(duk_context* ctx) { return *GetScriptBridge(ctx).page; }

std::string ScriptArgText(duk_context* ctx, duk_idx_t idx) {
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, idx, &length);
  return ScriptTextToUtf8(std::string_view(text ? text : "", length));
}

void PushUtf8Text(duk_context* ctx, const std::string& text) {
  std::u16string wide = Utf8ToUtf16(text);
  std::string script = Utf16ToScriptText(wide.data(), wide.size());
  duk_push_lstring(ctx, script.data(), script.size());
}

void PutNativeFunction(duk_context* ctx, const char* name, duk_c_function fn, duk_idx_t nargs) {
  duk_push_c_function(ctx, fn, nargs);
  duk_put_prop_string(ctx, -2, name);
}

void PutAccessor(duk_context* ctx, const char* name, duk_c_function getter, duk_c_function setter) {
  duk_push_string(ctx, name);
  duk_push_c_function(ctx, getter, 0);
  duk_uint_t flags = DUK_DEFPROP_HAVE_GETTER;
  if (setter) {
    duk_push_c_function(ctx, setter, 1);
    flags |= DUK_DEFPROP_HAVE_SETTER;
  }
  duk_def_prop(ctx, setter ? -4 : -3, flags);
}

void RequireTextArguments(duk_context* ctx, duk_idx_t count, const char* what) {
  for (duk_idx_t i = 0; i < count; ++i) {
    if (duk_is_undefined(ctx, i)) RaiseScriptError(ctx, DUK_ERR_TYPE_ERROR, what);
    duk_to_string(ctx, i);
  }
}

void InstallSharedPageObjects(duk_context* ctx) {
  InstallServerObject(ctx);
  InstallRequestObject(ctx);
  InstallResponseObject(ctx);
  InstallApplicationObject(ctx);
  InstallSessionObject(ctx);
}

void InstallPageGlobals(duk_context* ctx) {
  InstallSharedPageObjects(ctx);
  BeginPageSession(ctx);
}
