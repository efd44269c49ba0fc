// Script values <-> VARIANT.
//
// To COM: undefined VT_EMPTY, null VT_NULL, booleans VT_BOOL, integral
// numbers in 32-bit range VT_I4 and other numbers VT_R8, strings VT_BSTR,
// dates VT_DATE, arrays a one-dimensional SAFEARRAY of VARIANT, late-bound
// objects VT_DISPATCH. Other objects cannot be passed.
//
// From COM: VT_EMPTY undefined, VT_NULL null, every number type a number,
// VT_BSTR a string, VT_BOOL a boolean, VT_DATE a Date, VT_DISPATCH a
// late-bound object, a one-dimensional array an array.
#pragma once

#include <duktape.h>

#include "bridge/MemberCall.h"

// Converts the top args.Count() values of the stack into args and removes
// them. Runs protected: false when a value cannot be passed, with the error
// left on the stack top.
bool ReadScriptArguments(duk_context* ctx, DispArgs& args);

// Pushes the script form of value.
void PushVariantValue(duk_context* ctx, const VARIANT& value);

// Local date-time <-> milliseconds since the epoch (the script's time value).
bool DateFromScriptTime(double milliseconds, DATE* date);
bool ScriptTimeFromDate(DATE date, double* milliseconds);

// The VARIANT a script number becomes.
void StoreScriptNumber(double number, VARIANT* out);
