// Handing database values out through VARIANT out-parameters.
#pragma once

#include <string>

#include "../outside/Com.h"

// Values that count as "no value" when read from the database: VT_EMPTY,
// VT_NULL, VT_UNKNOWN and VT_BYREF|VT_UNKNOWN.
bool IsNoValue(const VARIANT& value);

// Replaces *pVal with a VT_BSTR holding text. Raises _com_error
// (E_OUTOFMEMORY) when the string cannot be allocated; *pVal is then empty.
void SetStringResult(VARIANT* pVal, const std::string& text);

// Replaces *pVal with a copy of value, keeping its type. Raises the copy's
// COM error when it fails.
void CopyValueResult(VARIANT* pVal, const VARIANT& value);

// Copies value into *pVal, or an empty string when it is no value: how the
// query cursor and the direct lookups hand out what they read.
void SetValueOrEmptyString(VARIANT* pVal, const VARIANT& value);
