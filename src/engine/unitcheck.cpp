#include "engine/unitcheck.h"

#include <algorithm>
#include <map>

#include "model/pairs.h"

namespace dupsweep {

std::vector<PairCheck> checkPairUnits(TdmDupsweep& dataModule, const std::string& unitClsCode,
                                      const UnitPairRefs& pairs) {
  std::vector<std::string> codes;
  for (const auto& [s, d] : pairs) {
    if (isSelfPair(*s, *d)) continue;
    codes.push_back(s->sUnitCode);
    codes.push_back(d->sUnitCode);
  }
  std::sort(codes.begin(), codes.end());
  codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
  std::map<std::string, TUnitData> known;
  for (TUnitData& unit : dataModule.FindUnits(unitClsCode, codes))
    known.try_emplace(unit.sUnitCode, std::move(unit));  // rows come lowest level first

  std::vector<PairCheck> checks(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const auto& [s, d] = pairs[i];
    if (isSelfPair(*s, *d)) {
      checks[i].selfPair = true;
      continue;
    }
    for (TUnitData* unit : {s, d}) {
      if (const auto found = known.find(unit->sUnitCode); found != known.end())
        *unit = found->second;
      else
        checks[i].unknownCodes.push_back(unit->sUnitCode);
    }
  }
  return checks;
}

}  // namespace dupsweep
