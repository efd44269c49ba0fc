#include "PageGlobals.h"

#include <filesystem>
#include <string>

#include "LateBinding.h"
#include "MemberCall.h"
#include "PasswordHash.h"
#include "ScriptBridge.h"
#include "ScriptText.h"
#include "ServerUtilities.h"

namespace {

// Leaves the new object, or an error, on the stack top.
bool CreateObject(duk_context* ctx) {
  std::string progId = ScriptArgText(ctx, 0);
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

// Leaves the mapped path, or an error, on the stack top.
bool MapPath(duk_context* ctx) {
  const PageContext& page = CurrentPage(ctx);
  std::string mapped;
  if (!MapVirtualPath(page.rootDirectory, page.scriptName, ScriptArgText(ctx, 0), &mapped)) {
    duk_push_error_object(ctx, DUK_ERR_RANGE_ERROR | kBlamePageLine,
                          "Server.MapPath: the path leads outside the site");
    return false;
  }
  PushUtf8Text(ctx, mapped);
  return true;
}

duk_ret_t ServerMapPath(duk_context* ctx) {
  RequireTextArguments(ctx, 1, "Server.MapPath needs a path");
  if (!MapPath(ctx)) return duk_throw(ctx);
  return 1;
}

duk_ret_t ServerHtmlEncode(duk_context* ctx) {
  if (duk_is_null_or_undefined(ctx, 0)) return duk_push_string(ctx, ""), 1;
  duk_to_string(ctx, 0);
  PushUtf8Text(ctx, HtmlEncode(ScriptArgText(ctx, 0)));
  return 1;
}

duk_ret_t ServerUrlEncode(duk_context* ctx) {
  if (duk_is_null_or_undefined(ctx, 0)) return duk_push_string(ctx, ""), 1;
  duk_to_string(ctx, 0);
  PushUtf8Text(ctx, UrlEncode(ScriptArgText(ctx, 0)));
  return 1;
}

// Leaves the hash, or an error, on the stack top.
bool PushPasswordHash(duk_context* ctx) {
  std::string password = ScriptArgText(ctx, 0);
  if (password.empty()) {
    duk_push_error_object(ctx, DUK_ERR_RANGE_ERROR | kBlamePageLine, "Server.HashPassword: a password cannot be empty");
    return false;
  }
  std::string hash = HashPassword(password);
  if (hash.empty()) {
    duk_push_error_object(ctx, DUK_ERR_ERROR | kBlamePageLine, "Server.HashPassword: no memory to hash the password");
    return false;
  }
  PushUtf8Text(ctx, hash);
  return true;
}

duk_ret_t ServerHashPassword(duk_context* ctx) {
  RequireTextArguments(ctx, 1, "Server.HashPassword needs a password");
  if (!PushPasswordHash(ctx)) return duk_throw(ctx);
  return 1;
}

duk_ret_t ServerVerifyPassword(duk_context* ctx) {
  RequireTextArguments(ctx, 2, "Server.VerifyPassword needs a password and its stored hash");
  const bool matches = VerifyPassword(ScriptArgText(ctx, 0), ScriptArgText(ctx, 1));
  duk_push_boolean(ctx, matches);
  return 1;
}

void InstallServerObject(duk_context* ctx) {
  duk_push_object(ctx);
  PutNativeFunction(ctx, "CreateObject", ServerCreateObject, 1);
  PutNativeFunction(ctx, "MapPath", ServerMapPath, 1);
  PutNativeFunction(ctx, "HTMLEncode", ServerHtmlEncode, 1);
  PutNativeFunction(ctx, "URLEncode", ServerUrlEncode, 1);
  PutNativeFunction(ctx, "HashPassword", ServerHashPassword, 1);
  PutNativeFunction(ctx, "VerifyPassword", ServerVerifyPassword, 2);
  duk_put_global_string(ctx, "Server");
}

}  // namespace

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

void InstallPageGlobals(duk_context* ctx) {
  InstallServerObject(ctx);
  InstallRequestObject(ctx);
  InstallResponseObject(ctx);
  InstallSessionObject(ctx);
  InstallApplicationObject(ctx);
}
