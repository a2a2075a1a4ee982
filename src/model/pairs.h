#pragma once
// Rules about a comparison run's findings that the dialog, the engine and the scanner share.

#include "model/pair.h"
#include "model/records.h"

namespace dupsweep {

// The same name and the same two unit codes, which the deletion acts on.
inline bool samePair(const DifferenceData& a, const DifferenceData& b) {
  return a.sGroupName == b.sGroupName && samePair(a.pair, b.pair);
}

// The same pair, sheet name and data tables in the same period: deleting one unit's copy of the
// sheet removes every such finding.
inline bool sameFinding(const DifferenceData& a, const DifferenceData& b) {
  const TSampleData& s = a.Sample;
  const TSampleData& t = b.Sample;
  return samePair(a, b) && s.sSampleName == t.sSampleName && s.sTaskCode == t.sTaskCode &&
         s.sSampleCode == t.sSampleCode && s.nSampleLevel == t.nSampleLevel &&
         s.TablePrefix == t.TablePrefix && s.sPeriodID == t.sPeriodID;
}

}  // namespace dupsweep
