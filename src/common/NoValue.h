// Values read from the database that carry nothing: readers keep the
// caller's default (or hand out an empty string) instead of passing them on.
#pragma once

#include "../outside/Com.h"

inline bool IsNoValue(const VARIANT& v) {
  return v.vt == VT_EMPTY || v.vt == VT_NULL || v.vt == VT_UNKNOWN ||
         v.vt == (VT_BYREF | VT_UNKNOWN);
}
