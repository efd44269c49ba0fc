// Response.Write(text), Redirect(url), End(), AddHeader(name, value),
// Cookies(name[, value]), and the ContentType and Status properties.
#include <cstdlib>
#include <string>

#include "bridge/ScriptBridge.h"
#include "page/PageGlobals.h"

namespace {

// Header names and values must not carry line breaks: a page that passes
// request data through must not be able to split the response.
bool IsHeaderSafe(const std::string& text) {
  return text.find_first_of("\r\n") == std::string::npos && text.find('\0') == std::string::npos;
}

[[noreturn]] void RaiseUnsafeHeader(duk_context* ctx, const char* what) {
  RaiseScriptError(ctx, DUK_ERR_TYPE_ERROR, what);
}

// Stops the page; the runner treats this error as the page's normal end.
[[noreturn]] void EndPage(duk_context* ctx) {
  duk_push_error_object(ctx, DUK_ERR_ERROR, "Response.End");
  duk_push_true(ctx);
  duk_put_prop_string(ctx, -2, KV_KEY_PAGE_END);
  (void)duk_throw(ctx);
  __builtin_unreachable();
}

duk_ret_t Write(duk_context* ctx) {
  if (duk_is_null_or_undefined(ctx, 0)) return 0;
  // May run the value's own toString; nothing of ours is alive yet.
  duk_to_string(ctx, 0);
  CurrentPage(ctx).response.Write(ScriptArgText(ctx, 0));
  return 0;
}

bool StoreHeader(duk_context* ctx) {
  std::string name = ScriptArgText(ctx, 0), value = ScriptArgText(ctx, 1);
  if (name.empty() || !IsHeaderSafe(name) || !IsHeaderSafe(value)) return false;
  CurrentPage(ctx).response.headers.emplace_back(std::move(name), std::move(value));
  return true;
}

duk_ret_t AddHeader(duk_context* ctx) {
  RequireTextArguments(ctx, 2, "Response.AddHeader needs a name and a value");
  if (!StoreHeader(ctx)) RaiseUnsafeHeader(ctx, "Response.AddHeader: a header cannot hold a line break");
  return 0;
}

bool StoreRedirect(duk_context* ctx) {
  std::string url = ScriptArgText(ctx, 0);
  if (!IsHeaderSafe(url)) return false;
  PageResponse& response = CurrentPage(ctx).response;
  response.status = 302;
  response.headers.emplace_back("Location", std::move(url));
  return true;
}

duk_ret_t Redirect(duk_context* ctx) {
  RequireTextArguments(ctx, 1, "Response.Redirect needs a URL");
  if (!StoreRedirect(ctx)) RaiseUnsafeHeader(ctx, "Response.Redirect: a URL cannot hold a line break");
  EndPage(ctx);
}

duk_ret_t End(duk_context* ctx) { EndPage(ctx); }

// Cookies(name) reads what the page set; Cookies(name, value) sets it.
bool Cookie(duk_context* ctx, bool put) {
  PageResponse& response = CurrentPage(ctx).response;
  std::string name = ScriptArgText(ctx, 0);
  if (!put) {
    for (auto it = response.cookies.rbegin(); it != response.cookies.rend(); ++it)
      if (it->first == name) return PushUtf8Text(ctx, it->second), true;
    duk_push_undefined(ctx);
    return true;
  }
  std::string value = ScriptArgText(ctx, 1);
  if (name.empty() || name.find_first_of("=;, \t") != std::string::npos || !IsHeaderSafe(name) ||
      !IsHeaderSafe(value))
    return false;
  response.cookies.emplace_back(std::move(name), std::move(value));
  duk_push_undefined(ctx);
  return true;
}

duk_ret_t Cookies(duk_context* ctx) {
  const bool put = duk_get_top(ctx) >= 2;
  RequireTextArguments(ctx, put ? 2 : 1, "Response.Cookies needs a cookie name");
  if (!Cookie(ctx, put)) RaiseUnsafeHeader(ctx, "Response.Cookies: not a valid cookie name or value");
  return 1;
}

duk_ret_t GetContentType(duk_context* ctx) {
  PushUtf8Text(ctx, CurrentPage(ctx).response.contentType);
  return 1;
}

duk_ret_t SetContentType(duk_context* ctx) {
  duk_to_string(ctx, 0);
  std::string type = ScriptArgText(ctx, 0);
  bool safe = IsHeaderSafe(type) && !type.empty();
  if (safe) CurrentPage(ctx).response.contentType = type;
  if (!safe) RaiseUnsafeHeader(ctx, "Response.ContentType: not a valid content type");
  return 0;
}

duk_ret_t GetStatus(duk_context* ctx) {
  duk_push_int(ctx, CurrentPage(ctx).response.status);
  return 1;
}

// Takes 404 as well as "404 Not Found"; the reason text is the server's.
duk_ret_t SetStatus(duk_context* ctx) {
  int status = duk_is_number(ctx, 0) ? duk_get_int(ctx, 0) : std::atoi(duk_safe_to_string(ctx, 0));
  if (status < 100 || status > 599) RaiseScriptError(ctx, DUK_ERR_RANGE_ERROR, "Response.Status: not an HTTP status");
  CurrentPage(ctx).response.status = status;
  return 0;
}

}  // namespace

void InstallResponseObject(duk_context* ctx) {
  duk_push_object(ctx);
  PutNativeFunction(ctx, "Write", Write, 1);
  PutNativeFunction(ctx, "Redirect", Redirect, 1);
  PutNativeFunction(ctx, "End", End, 0);
  PutNativeFunction(ctx, "AddHeader", AddHeader, 2);
  PutNativeFunction(ctx, "Cookies", Cookies, DUK_VARARGS);
  PutAccessor(ctx, "ContentType", GetContentType, SetContentType);
  PutAccessor(ctx, "Status", GetStatus, SetStatus);
  duk_put_global_string(ctx, "Response");
}
