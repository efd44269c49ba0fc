// The equality behind CompareByFieldName: strict on the variant type, so a
// page never gets "equal" from an implicit conversion (5 as VT_I2 is not 5 as
// VT_I4, nor the string "5").
#pragma once

#include "../outside/Com.h"

bool StrictVariantEquals(const VARIANT& a, const VARIANT& b);
