#pragma once
// Duplicate discovery: which units of a classification handed in the same figures, found without
// being told the pairs. For one period, task and level it reads the classification's units with
// one statement and each sheet of the sample list with one statement for all units, gives every
// (unit, sheet) a fingerprint of what the equality test compares, and groups equal fingerprints.
// Every group is confirmed with the run's own equality test (SameRows), so a hash collision never
// reports repeated data. Near-copies (same row count, at most a few differing cells) are found
// through fingerprints of row bands, not by comparing every pair, and their cells are counted
// exactly; many units near one another are one near-content group instead of pairs. No widgets;
// progress and cancelling through ProgressSink. Only one sheet's rows are held at a time, in a
// compact form.

#include <cstdint>
#include <string>
#include <vector>

#include "data/dmdupsweep.h"
#include "engine/run.h"
#include "model/pair.h"
#include "model/records.h"

namespace dupsweep {

struct DiscoverySettings {
  // Near-copies differ in 1 to nearCells figure cells; 0 looks for none. On a sheet of C figure
  // cells the limit is at most (C - 1) / 2: from half of C on any two units would be near.
  int nearCells = 3;
  // A sheet whose identical content at least this many units share is common content (say, all
  // zeros): reported as one group, never as pairs, and left out of the search for near-copies.
  int commonGroupSize = 10;
};

// One near-copy sheet of a pair: the sheet (an index into DiscoveryResult::sheets) and the
// number of figure cells in which the two units differ.
struct NearSheet {
  int sheet = 0;
  int cells = 0;
};

// A pair of units with repeated data (the left unit has the smaller code) and what was found.
struct DiscoveredPair {
  UnitPair units;
  std::vector<int> identical;    // sheets (indexes into DiscoveryResult::sheets), in list order
  std::vector<NearSheet> near;   // in list order
};

// Units whose rows of one sheet are identical, confirmed by SameRows: codes in code order.
struct DiscoveredGroup {
  int sheet = 0;
  std::vector<std::string> unitCodes;
  bool common = false;  // at least commonGroupSize units: its pairs are not in the pair list
};

// Units that are near-copies of one another on a sheet (joined by near-copies of at most the
// limit of cells), at least commonGroupSize of them: near-content, reported once instead of as
// pairs. Codes in code order; `cells` is the most cells in which a unit differs from the unit it
// was found near.
struct DiscoveredNearGroup {
  int sheet = 0;
  std::vector<std::string> unitCodes;
  int cells = 0;
};

// A period, task, level or unit classification the database does not know: a discovery with it
// would find nothing, which says nothing.
class UnknownDiscoveryInput : public Error {
 public:
  enum class What { TaskLevel, Period, Classification };
  UnknownDiscoveryInput(What what, const std::string& message) : Error(message), what_(what) {}
  What kind() const noexcept { return what_; }

 private:
  What what_;
};

struct DiscoveryResult {
  std::string periodId;
  std::vector<TSampleData> sheets;      // the period's sample tables, in their order
  std::vector<TUnitData> units;         // the units the tree can show, in code order
  // Ranked: most identical sheets first, then most near-copy sheets, then by codes. A pair is
  // listed once, whichever unit comes first.
  std::vector<DiscoveredPair> pairs;
  std::vector<DiscoveredGroup> groups;  // of two units or more, by sheet, then first code
  std::vector<DiscoveredNearGroup> nearGroups;  // by sheet, then first code
  std::vector<std::string> warnings;    // sheets whose figures table does not exist
};

// The units the unit tree can show, each once (by code, where it is first reached), with nLevel
// set to its depth: the level-0 rows without a parent, and under each shown unit the rows one
// level deeper whose parent code is its code. Sorted by code.
std::vector<TUnitData> treeUnits(const std::vector<ClassificationUnit>& rows);

class DuplicateDiscovery {
 public:
  DuplicateDiscovery(TdmDupsweep& dataModule, std::string periodId, std::string taskCode,
                     std::int32_t level, std::string unitClsCode, DiscoverySettings settings = {});

  // Runs the discovery. Progress: begin(sheets + 1), a step after each sheet and one at the end;
  // cancelled() is asked before every sheet and, within one, at least every 25 ms of work (and
  // every 65,536 rows or comparisons); true ends the run with RunCancelled. A sheet whose
  // table does not exist is a warning. Throws DatabaseError when the units, the sample list or a
  // sheet cannot be read for another reason (naming the sheet and its table, or a value such as
  // a classification code holding a NUL, which no statement can carry), and Error for settings
  // out of range (nearCells below 0, commonGroupSize below 2). Throws UnknownDiscoveryInput when
  // the task has no period for the level, the period is not one of them, or the classification
  // has no unit.
  DiscoveryResult Run(ProgressSink& progress);

 private:
  TdmDupsweep& dm_;
  std::string periodId_;
  std::string taskCode_;
  std::int32_t level_;
  std::string unitClsCode_;
  DiscoverySettings settings_;
};

}  // namespace dupsweep
