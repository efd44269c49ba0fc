// What the script engine's native functions share: the page's COM objects
// and the page's context (request, response, session). It is the heap's
// user data, so that every native function, and a finalizer run by the
// engine on a thread of its own, can reach it from its context.
//
// A rule for every native function of the bridge: the engine reports script
// errors by unwinding with longjmp, which skips C++ destructors. So a call
// into the engine that can raise (conversions that run script code such as
// getters or toString, and throwing itself) happens only where no C++ object
// with a destructor is alive in the frames it would unwind: either before
// such objects exist, inside a protected call whose storage is owned outside,
// or after the C++ work has returned and left an error object on the stack.
#pragma once

#include <cstddef>

#include <duktape.h>

#include "bridge/ObjectTable.h"

struct PageContext;

struct ScriptBridge {
  ObjectTable objects;
  // The page running, null between pages.
  PageContext* page = nullptr;
  // The host session of the page running, which the Session object
  // stands for when it is passed to a COM method; null when there is none.
  IDispatch* sessionHost = nullptr;
  // The heap's allocation budget (0: none) and what the heap holds of it.
  size_t heapLimit = 0;
  size_t heapBytes = 0;
};

// Hidden keys: script code cannot name them, and on late-bound objects they
// reach the proxy's target without passing its traps.
#define KV_KEY_OBJECT_ID DUK_HIDDEN_SYMBOL("kvObjectId")
#define KV_KEY_TARGET DUK_HIDDEN_SYMBOL("kvTarget")
#define KV_KEY_DISPID DUK_HIDDEN_SYMBOL("kvDispId")
// Marks the Session object, which stands for the running page's session.
#define KV_KEY_PAGE_SESSION DUK_HIDDEN_SYMBOL("kvPageSession")
// Marks the error Response.End raises to stop the page: the page then
// ends normally.
#define KV_KEY_PAGE_END DUK_HIDDEN_SYMBOL("kvPageEnd")

// The bridge given as user data when the heap was made.
ScriptBridge& GetScriptBridge(duk_context* ctx);

// Errors raised for the page name the page line that made the call as
// their place, not a line of ours. (The engine takes this flag on the error
// code of duk_push_error_object and friends.)
constexpr duk_errcode_t kBlamePageLine = 1L << 24;

// Raises a script error of the given kind (DUK_ERR_TYPE_ERROR, ...).
[[noreturn]] void RaiseScriptError(duk_context* ctx, duk_errcode_t kind, const char* message);

// Slots of the heap's stash for built-ins captured at start, before a page
// could replace them. The heap's stash, not the global object's: a page's
// global object is a copy of the heap's, and copies leave hidden keys out.
constexpr const char* kStashDate = "kvDate";
constexpr const char* kStashGetTime = "kvGetTime";
constexpr const char* kStashHandler = "kvHandler";
