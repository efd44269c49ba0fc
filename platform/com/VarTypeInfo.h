// Facts about VARTYPEs shared by the VARIANT and SAFEARRAY code (internal to
// platform/com).
#pragma once

#include <cstddef>

#include "ComTypes.h"

namespace kvcom {

// Storage size of a value of the base type (no VT_ARRAY / VT_BYREF bits), or
// 0 when the subset does not store that type in a VARIANT or an array.
// VT_BSTR, VT_UNKNOWN and VT_DISPATCH are pointers; VT_VARIANT is a VARIANT.
size_t ElementSize(VARTYPE base);

// True for a type tag a VARIANT may carry: a scalar base type, VT_ARRAY with
// an element type, or VT_BYREF of either.
bool IsValidVariantType(VARTYPE vt);

}  // namespace kvcom
