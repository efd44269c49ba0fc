// Server: CreateObject by ProgID, MapPath, the HTML and URL encodings and
// the password hashes pages store.
#include <string>

#include "base/VirtualPaths.h"
#include "bridge/LateBinding.h"
#include "bridge/MemberCall.h"
#include "bridge/ScriptBridge.h"
#include "page/FormCoding.h"
#include "page/PageGlobals.h"
#include "page/PasswordHash.h"

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

}  // namespace

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
