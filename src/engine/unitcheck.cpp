#include "engine/unitcheck.h"

#include <algorithm>
#include <map>

namespace dupsweep {

std::vector<PairCheck> checkPairUnits(TdmDupsweep& dataModule, const std::string& unitClsCode,
                                      const std::vector<UnitPair*>& pairs) {
  std::vector<std::string> codes;
  for (const UnitPair* pair : pairs) {
    if (isSelfPair(*pair)) continue;
    for (const TUnitData& unit : pair->units) codes.push_back(unit.sUnitCode);
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  std::map<std::string, TUnitData> known;
  for (TUnitData& unit : dataModule.FindUnits(unitClsCode, codes))
    known.try_emplace(unit.sUnitCode, std::move(unit));  // rows come lowest level first

  std::vector<PairCheck> checks(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    UnitPair& pair = *pairs[i];
    if (isSelfPair(pair)) {
      checks[i].selfPair = true;
      continue;
    }
    BySide<TUnitData> units = pair.units;
    for (TUnitData& unit : units) {
      if (const auto found = known.find(unit.sUnitCode); found != known.end())
        unit = found->second;
      else
        checks[i].unknownCodes.push_back(unit.sUnitCode);
    }
    pair = UnitPair(std::move(units[Left]), std::move(units[Right]));
  }
  return checks;
}

}  // namespace dupsweep
