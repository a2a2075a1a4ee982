#pragma once
// Rules about unit pairs that every caller applies alike: the dialog, the comparison engine and
// the batch scanner.

#include "model/records.h"

namespace dupsweep {

// True when both sides of the pair stand for one unit. The host keys every row by unit code, so
// two records with the same code are the same data: comparing them finds every sheet
// "identical", and deleting one side deletes the only copy.
inline bool isSelfPair(const TUnitData& unitS, const TUnitData& unitD) noexcept {
  return unitS.sUnitCode == unitD.sUnitCode;
}
inline bool isSelfPair(const TUnitGroup& pair) noexcept {
  return isSelfPair(*pair.UnitS, *pair.UnitD);
}

}  // namespace dupsweep
