// The globals a page script finds: Server.CreateObject(progid), Session and
// Response.Write(text).
#pragma once

#include <duktape.h>

#include "platform/com/ComPtr.h"

// session may be null: the page then sees Session as null.
void InstallPageGlobals(duk_context* ctx, const ComPtr<IDispatch>& session);
