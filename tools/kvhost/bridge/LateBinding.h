// Late-bound COM objects in scripts. Each object is a Proxy whose get trap
// asks the object for the member by name: a property that can be read
// without arguments is read at once (obj.Name), anything else comes back as
// a function that invokes the member as method or property get
// (obj.Name(args)). Assigning to obj.Name puts the property.
#pragma once

#include <cstdint>
#include <string>

#include <duktape.h>

#include "bridge/MemberCall.h"

// Sets up what late binding needs in a new heap; call once, before any page code runs.
void InstallLateBinding(duk_context* ctx);

// Pushes the script object for an entry of the bridge's object table.
void PushLateBoundObject(duk_context* ctx, uint32_t id);

// Pushes an Error carrying failure.hr as its number (signed, as pages compare it).
void PushComError(duk_context* ctx, const ComFailure& failure);
