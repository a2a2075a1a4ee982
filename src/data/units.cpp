#include "data/units.h"

#include <limits>

#include "platform/errors.h"

namespace dupsweep {
namespace {

std::int32_t int32Field(const db::RowSet& rows, const char* column) {
  const std::int64_t value = rows.field(column).asInteger();
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    throw DatabaseError("The unit " + rows.field("sUnitCode").asText() +
                        " has an identifier or level out of range");
  return static_cast<std::int32_t>(value);
}

}  // namespace

TUnitData unitFromRow(const db::RowSet& rows, std::int32_t level) {
  TUnitData unit;
  unit.nUnitID = int32Field(rows, "nUnitID");
  unit.sUnitCode = rows.field("sUnitCode").asText();
  unit.sUnitName = rows.field("sUnitName").asText();
  unit.nLevel = level;
  return unit;
}

TUnitData unitFromRow(const db::RowSet& rows) {
  return unitFromRow(rows, int32Field(rows, "nLevel"));
}

}  // namespace dupsweep
