#pragma once
// The one mapping of a unit row (nUnitID, sUnitCode, sUnitName, maybe nLevel) to a TUnitData.

#include <cstdint>

#include "model/records.h"
#include "platform/db/db.h"

namespace dupsweep {

// Level from the row's nLevel. Throws DatabaseError when the identifier or the level is NULL, not
// a number or beyond 32 bits.
TUnitData unitFromRow(const db::RowSet& rows);

// At the level the tree asked for; throws as above for the identifier.
TUnitData unitFromRow(const db::RowSet& rows, std::int32_t level);

}  // namespace dupsweep
