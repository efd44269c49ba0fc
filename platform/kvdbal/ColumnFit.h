// Whether a value can be stored in a column of a given kind. Both engines
// are asked the same question before a value is taken for a row: PostgreSQL
// would refuse it only at Update, losing the whole row, and SQLite would
// store "twelve" in an INTEGER column without a word.
#pragma once

#include <string>

#include "Engine.h"

namespace kvdbal {

// Raises CKvDbException(DISP_E_TYPEMISMATCH, or DISP_E_OVERFLOW for a number
// out of the column's range) naming the column when value does not fit.
// NULL and EMPTY fit every column; a column without a declared type takes
// any plain value.
void CheckValueFitsColumn(const VARIANT& value, ValueKind kind, const std::string& column);

}  // namespace kvdbal
