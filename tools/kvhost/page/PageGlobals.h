// The objects a page finds as globals: Request, Response, Server, Session
// and Application, working on the page's context.
#pragma once

#include <string>

#include <duktape.h>

#include "page/PageContext.h"

// The bridge's page context must be set; its session may be null (the page
// then sees Session as null).
void InstallPageGlobals(duk_context* ctx);

// Server, Request, Response, Application and Session: they hold nothing of
// a page and work on whichever page the bridge runs, so a heap whose pages
// share its built-ins makes them once, among those built-ins. A page on
// such a heap then needs only BeginPageSession.
void InstallSharedPageObjects(duk_context* ctx);

// ---- shared by the files that build the objects ----

PageContext& CurrentPage(duk_context* ctx);
// The UTF-8 text of a string value on the stack (convert it first).
std::string ScriptArgText(duk_context* ctx, duk_idx_t idx);
void PushUtf8Text(duk_context* ctx, const std::string& text);
void PutNativeFunction(duk_context* ctx, const char* name, duk_c_function fn, duk_idx_t nargs);
// A property of the object on the stack top read and written by natives
// (setter may be null for a read-only one).
void PutAccessor(duk_context* ctx, const char* name, duk_c_function getter, duk_c_function setter);
// Converts the arguments 0..count-1 to strings; raises a TypeError naming
// what when one is missing.
void RequireTextArguments(duk_context* ctx, duk_idx_t count, const char* what);

void InstallServerObject(duk_context* ctx);
void InstallRequestObject(duk_context* ctx);
void InstallResponseObject(duk_context* ctx);
void InstallSessionObject(duk_context* ctx);
// The running page's part of Session, set up for every page.
void BeginPageSession(duk_context* ctx);
void InstallApplicationObject(duk_context* ctx);
