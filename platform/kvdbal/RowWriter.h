// Turns a rowset's row buffer into the INSERT or UPDATE that stores it.
#pragma once

#include <string>
#include <vector>

#include "RowsetImpl.h"

namespace kvdbal {

// INSERT INTO table of the changed columns of pending.
void InsertRow(EngineConnection& engine, Cursor& cursor, const std::string& table,
               const std::vector<PendingValue>& pending);

// UPDATE table SET the changed columns, for the row identified by its primary
// key, or when the result lacks the key, by the engine's row identity of the
// first row equal to it in every column that is not long. The identifying
// values are the stored ones: the buffer's unchanged values, else the
// cursor's current row when cursorRowCurrent. Raises
// KVDB_E_COLLISION_CHANGED when no row matched any more.
void UpdateRow(EngineConnection& engine, Cursor& cursor, const std::string& table,
               const std::vector<PendingValue>& pending, bool cursorRowCurrent);

}  // namespace kvdbal
