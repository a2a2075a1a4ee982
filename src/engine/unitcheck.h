#pragma once
// Checking units of pairs from outside the unit tree (scheme files) against the classification.

#include <string>
#include <vector>

#include "data/dmdupsweep.h"
#include "model/pair.h"

namespace dupsweep {

// What stands in the way of comparing one pair; nothing for a usable pair.
struct PairCheck {
  bool selfPair = false;                  // both units have the same code (isSelfPair)
  std::vector<std::string> unknownCodes;  // codes the classification does not have, left first
  bool usable() const noexcept { return !selfPair && unknownCodes.empty(); }
};

// Replaces every unit by the database's record of its code (the lowest level's; any classification
// for an empty `unitClsCode`; one statement; self pairs not looked up), the pair's name composed
// anew. Returns a check per pair. Throws DatabaseError with no pair changed.
std::vector<PairCheck> checkPairUnits(TdmDupsweep& dataModule, const std::string& unitClsCode,
                                      const std::vector<UnitPair*>& pairs);

}  // namespace dupsweep
