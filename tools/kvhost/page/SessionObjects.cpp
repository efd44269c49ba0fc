// Session and Application: called with a name they read a value, with a
// name and a value they store it (Session("cart") / Session("cart", 3)).
// Session is also the host session object that the component's Init takes,
// and has SessionID, Timeout (minutes), Abandon(), the signed-in user
// (UserId, SignIn(id), SignOut()) and the anti-forgery Token its forms carry;
// Application has Lock() and Unlock(), held at most until the page ends.
#include <cmath>
#include <cstdint>
#include <exception>
#include <string>

#include "bridge/MemberCall.h"
#include "bridge/ScriptBridge.h"
#include "bridge/ScriptValues.h"
#include "page/PageGlobals.h"
#include "platform/com/Exceptions.h"
#include "platform/host/HostSession.h"

namespace {

// The signed-in user lives in the host session, where the component's owner
// filter and user stamps read it; the page session keeps a copy for the
// server. 0 is nobody.
long HostUserId(const PageSession& session) {
  LONG id = 0;
  if (session.host) KvConfigureHostSession(session.host.Get(), [&id](KvHostSessionConfig& c) { id = c.userId; });
  return id;
}

void SetSessionUser(PageSession& session, long userId) {
  if (session.host)
    KvConfigureHostSession(session.host.Get(), [userId](KvHostSessionConfig& c) { c.userId = static_cast<LONG>(userId); });
  session.userId = userId;
}

ValueStore* StoreOf(duk_context* ctx, bool application) {
  PageContext& page = CurrentPage(ctx);
  if (application) return page.application ? &page.application->Values() : nullptr;
  return page.session ? &page.session->values : nullptr;
}

// Values kept outside the process can fail to be read or written (the
// database is gone); the page then gets a script error, not a crash.
template <typename Action>
bool KeepOrRefuse(duk_context* ctx, Action action) {
  std::string error;
  try {
    action();
    return true;
  } catch (const CException& e) {
    error = e.Message();
  } catch (const std::exception& e) {
    error = e.what();
  }
  duk_push_error_object(ctx, DUK_ERR_ERROR, "the kept values cannot be reached: %s", error.c_str());
  return false;
}

// Stack: [name value?]. Leaves the value read (or undefined), or an error.
bool AccessValue(duk_context* ctx, bool application) {
  const bool put = duk_get_top(ctx) >= 2;
  ValueStore* store = StoreOf(ctx, application);
  std::string name = ScriptArgText(ctx, 0);
  if (!put) {
    CComVariant value;
    bool found = false;
    if (!KeepOrRefuse(ctx, [&] { found = store && store->Get(name, &value); })) return false;
    if (found)
      PushVariantValue(ctx, value);
    else
      duk_push_undefined(ctx);
    return true;
  }
  DispArgs args(1);
  duk_dup(ctx, 1);
  if (!ReadScriptArguments(ctx, args)) return false;
  if ((args.Arg(0)->vt & VT_TYPEMASK) == VT_DISPATCH || (args.Arg(0)->vt & VT_TYPEMASK) == VT_UNKNOWN) {
    // An object belongs to the page that made it and goes with it.
    duk_push_error_object(ctx, DUK_ERR_TYPE_ERROR | kBlamePageLine,
                          "%s can keep numbers, strings, booleans, dates and arrays, not objects",
                          application ? "Application" : "Session");
    return false;
  }
  if (store && !KeepOrRefuse(ctx, [&] { store->Put(name, *args.Arg(0)); })) return false;
  if (!application && CurrentPage(ctx).session) CurrentPage(ctx).session->kept = true;
  duk_push_undefined(ctx);
  return true;
}

template <bool Application>
duk_ret_t CallValues(duk_context* ctx) {
  if (duk_get_top(ctx) > 2) duk_set_top(ctx, 2);
  RequireTextArguments(ctx, 1, Application ? "Application needs the name of a value"
                                           : "Session needs the name of a value");
  if (!AccessValue(ctx, Application)) return duk_throw(ctx);
  return 1;
}

duk_ret_t GetSessionId(duk_context* ctx) {
  PageSession* session = CurrentPage(ctx).session;
  PushUtf8Text(ctx, session ? session->id : std::string());
  return 1;
}

// The anti-forgery token a page puts into its forms; a session whose token
// went out is kept, or the token could never be checked.
duk_ret_t GetToken(duk_context* ctx) {
  PageSession* session = CurrentPage(ctx).session;
  if (session) session->kept = true;
  PushUtf8Text(ctx, session ? session->antiForgeryToken : std::string());
  return 1;
}

duk_ret_t GetTimeout(duk_context* ctx) {
  PageSession* session = CurrentPage(ctx).session;
  duk_push_int(ctx, session ? session->timeoutMinutes.load() : 0);
  return 1;
}

duk_ret_t SetTimeout(duk_context* ctx) {
  double minutes = duk_to_number(ctx, 0);
  if (!(minutes >= 1 && minutes <= 24 * 60))
    RaiseScriptError(ctx, DUK_ERR_RANGE_ERROR, "Session.Timeout takes 1 to 1440 minutes");
  if (PageSession* session = CurrentPage(ctx).session) session->timeoutMinutes = static_cast<int>(minutes);
  return 0;
}

duk_ret_t Abandon(duk_context* ctx) {
  if (PageSession* session = CurrentPage(ctx).session) {
    session->abandoned = true;
    session->values.Clear();
    SetSessionUser(*session, 0);
  }
  return 0;
}

duk_ret_t GetUserId(duk_context* ctx) {
  PageSession* session = CurrentPage(ctx).session;
  long id = session ? HostUserId(*session) : 0;
  if (session) session->userId = id;
  duk_push_number(ctx, static_cast<double>(id));
  return 1;
}

// The page has checked who the visitor is (Server.VerifyPassword); from
// now on the session, and the component through it, acts as that user.
duk_ret_t SignIn(duk_context* ctx) {
  double id = duk_to_number(ctx, 0);
  if (!(id >= 1 && id <= INT32_MAX && std::floor(id) == id))
    RaiseScriptError(ctx, DUK_ERR_RANGE_ERROR, "Session.SignIn takes a user id from 1 to 2147483647");
  if (PageSession* session = CurrentPage(ctx).session) {
    SetSessionUser(*session, static_cast<long>(id));
    session->kept = true;
    session->renewId = true;
  }
  return 0;
}

duk_ret_t SignOut(duk_context* ctx) {
  if (PageSession* session = CurrentPage(ctx).session) SetSessionUser(*session, 0);
  return 0;
}

duk_ret_t Lock(duk_context* ctx) {
  PageContext& page = CurrentPage(ctx);
  if (page.application && !page.applicationLock.owns_lock()) {
    // Waiting past the page's own end would only hold its slot longer.
    if (!KeepOrRefuse(ctx, [&] { page.applicationLock = page.application->Lock(page.deadline); }))
      return duk_throw(ctx);
    if (!page.applicationLock.owns_lock())
      RaiseScriptError(ctx, DUK_ERR_ERROR, "Application.Lock: the lock was not free before the page's time ran out");
  }
  return 0;
}

duk_ret_t Unlock(duk_context* ctx) {
  PageContext& page = CurrentPage(ctx);
  if (page.applicationLock.owns_lock()) page.applicationLock.unlock();
  return 0;
}

}  // namespace

void InstallSessionObject(duk_context* ctx) {
  // One object for every page: what it reads and changes is the session of
  // the page running, and passing it to a COM method passes that session's
  // host session.
  duk_push_c_function(ctx, CallValues<false>, DUK_VARARGS);
  duk_push_true(ctx);
  duk_put_prop_string(ctx, -2, KV_KEY_PAGE_SESSION);
  PutAccessor(ctx, "SessionID", GetSessionId, nullptr);
  PutAccessor(ctx, "Token", GetToken, nullptr);
  PutAccessor(ctx, "Timeout", GetTimeout, SetTimeout);
  PutNativeFunction(ctx, "Abandon", Abandon, 0);
  PutAccessor(ctx, "UserId", GetUserId, nullptr);
  PutNativeFunction(ctx, "SignIn", SignIn, 1);
  PutNativeFunction(ctx, "SignOut", SignOut, 0);
  duk_put_global_string(ctx, "Session");
}

void BeginPageSession(duk_context* ctx) {
  PageSession* session = CurrentPage(ctx).session;
  if (!session) {
    // The page's own global object: the next page has Session again.
    duk_push_null(ctx);
    duk_put_global_string(ctx, "Session");
    return;
  }
  // A development user (--user) is signed in from the start.
  session->userId = HostUserId(*session);
  GetScriptBridge(ctx).sessionHost = session->host.Get();
}

void InstallApplicationObject(duk_context* ctx) {
  duk_push_c_function(ctx, CallValues<true>, DUK_VARARGS);
  PutNativeFunction(ctx, "Lock", Lock, 0);
  PutNativeFunction(ctx, "Unlock", Unlock, 0);
  duk_put_global_string(ctx, "Application");
}
