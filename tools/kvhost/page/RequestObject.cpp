// Request(name), Request.QueryString(name), Request.Form(name),
// Request.Cookies(name), Request.ServerVariables(name). A name that was not
// sent reads undefined; several values of one name come joined with ", ".
#include <string>

#include "page/FormCoding.h"
#include "platform/com/AsciiCase.h"
#include "page/PageGlobals.h"

namespace {

enum class Collection { QueryString, Form, Cookies, ServerVariables };

bool FindIn(const PageRequest& request, Collection collection, const std::string& name,
            std::string* value) {
  switch (collection) {
    case Collection::QueryString: return JoinedValues(request.queryString, name, value);
    case Collection::Form: return JoinedValues(request.form, name, value);
    case Collection::Cookies: {
      auto it = request.cookies.find(name);
      if (it == request.cookies.end()) return false;
      *value = it->second;
      return true;
    }
    case Collection::ServerVariables: {
      const PageRequest::Variables& variables = request.ServerVariables();
      auto it = variables.find(UpperAscii(name));
      if (it == variables.end()) return false;
      *value = it->second;
      return true;
    }
  }
  return false;
}

// Pushes the value, or undefined.
void PushLookup(duk_context* ctx, std::initializer_list<Collection> collections) {
  const PageRequest& request = CurrentPage(ctx).request;
  std::string name = ScriptArgText(ctx, 0);
  std::string value;
  for (Collection collection : collections) {
    if (FindIn(request, collection, name, &value)) return PushUtf8Text(ctx, value);
  }
  duk_push_undefined(ctx);
}

template <Collection... Collections>
duk_ret_t Lookup(duk_context* ctx) {
  RequireTextArguments(ctx, 1, "Request needs the name of a value");
  PushLookup(ctx, {Collections...});
  return 1;
}

}  // namespace

void InstallRequestObject(duk_context* ctx) {
  using C = Collection;
  duk_push_c_function(ctx, Lookup<C::QueryString, C::Form, C::Cookies, C::ServerVariables>, 1);
  PutNativeFunction(ctx, "QueryString", Lookup<C::QueryString>, 1);
  PutNativeFunction(ctx, "Form", Lookup<C::Form>, 1);
  PutNativeFunction(ctx, "Cookies", Lookup<C::Cookies>, 1);
  PutNativeFunction(ctx, "ServerVariables", Lookup<C::ServerVariables>, 1);
  duk_put_global_string(ctx, "Request");
}
