// Record ids: reading one from a caller's value and choosing the next free
// one. Ids are 32-bit signed integers; a value that is not one is refused
// rather than guessed at.
#pragma once

#include <string>

#include "../outside/Com.h"

// The id a caller's value names, or -1 when it names none (empty, NULL or an
// empty text, as a form field for a new record gives it). Texts and other
// numeric types are converted when they hold a whole number in the id range;
// anything else raises CException naming the field.
LONG IdOfValue(const VARIANT& value, const char* fieldName);

// The id after the largest one in use in table. At the top of the id range
// there is none: CException instead of a wrapped, negative id.
LONG IdAfter(LONG largest, const std::string& table);
