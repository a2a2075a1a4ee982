#pragma once
// Checking the units of pairs that come from outside the unit tree (scheme files) against the
// host's classification, for the dialog and the batch scanner alike.

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

// Looks every unit of `pairs` up by code in classification `unitClsCode` (any classification
// when empty) with one statement, and replaces each unit the database knows by its current
// record (the lowest level's when a code stands at several), so that names and identifiers are
// the database's; the pair's name is composed anew from them. A pair of one unit with itself is
// not looked up. Returns one check per pair, in order. Throws DatabaseError when the statement
// fails; no pair has been changed then.
std::vector<PairCheck> checkPairUnits(TdmDupsweep& dataModule, const std::string& unitClsCode,
                                      const std::vector<UnitPair*>& pairs);

}  // namespace dupsweep
