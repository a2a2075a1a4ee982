#pragma once
// The one mapping of a unit row (columns nUnitID, sUnitCode, sUnitName and, where the statement
// gives it, nLevel) to a TUnitData, for the unit tree, the classification and the look-up by code.

#include <cstdint>

#include "model/records.h"
#include "platform/db/db.h"

namespace dupsweep {

// The unit of the current row, its level taken from the row's nLevel. Throws DatabaseError when
// the identifier or the level is NULL, not a number or beyond 32 bits.
TUnitData unitFromRow(const db::RowSet& rows);

// The unit of the current row at the tree level given (the unit tree's rows stand at the level
// the tree asked for). Throws DatabaseError as above for the identifier.
TUnitData unitFromRow(const db::RowSet& rows, std::int32_t level);

}  // namespace dupsweep
