#pragma once
// Rules about the findings of a comparison run that every caller applies alike: the dialog, the
// comparison engine and the batch scanner.

#include "model/pair.h"
#include "model/records.h"

namespace dupsweep {

// Whether two findings of a comparison run belong to the same pair: the same name and the same
// two unit codes, which the deletion acts on.
inline bool samePair(const DifferenceData& a, const DifferenceData& b) {
  return a.sGroupName == b.sGroupName && samePair(a.pair, b.pair);
}

// Whether two findings stand for the same repeated sheet: the same pair, the same sheet name and
// the same data tables (every field the tables' names are made of) in the same period. Deleting
// one unit's copy of the sheet removes every such finding.
inline bool sameFinding(const DifferenceData& a, const DifferenceData& b) {
  const TSampleData& s = a.Sample;
  const TSampleData& t = b.Sample;
  return samePair(a, b) && s.sSampleName == t.sSampleName && s.sTaskCode == t.sTaskCode &&
         s.sSampleCode == t.sSampleCode && s.nSampleLevel == t.nSampleLevel &&
         s.TablePrefix == t.TablePrefix && s.sPeriodID == t.sPeriodID;
}

}  // namespace dupsweep
