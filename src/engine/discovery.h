#pragma once
// Duplicate discovery: which units of a classification handed in the same figures, found without
// being told the pairs. For one period, task and level it reads the classification's units with
// one statement and each sheet of the sample list with one statement for all units, gives every
// (unit, sheet) a fingerprint of what the equality test compares, and groups equal fingerprints.
// Every group is confirmed with the run's own equality test (SameRows) on the units' rows read
// again with the one-unit statement of the comparison, so a hash collision never reports repeated
// data. Near-copies (same row count, at most a few differing cells) are found through fingerprints
// of row bands, not by comparing every pair, and their cells are counted exactly; many units near
// one another are one near-content group instead of pairs. Rescaled copies (rescale.h) are found
// through a fingerprint that a rescaling and its rounding cannot change. Against an earlier period
// the same is found across the two periods (carried forward, copied from an earlier report).
// Per (unit, sheet) only a few words are kept, whatever the rows; the sheets are read by one
// worker per core, each with its own connection. No widgets; progress and cancelling through
// ProgressSink, on the calling thread.

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
  // An earlier period to compare the period with as well (empty: none): a unit's sheet identical
  // to its own sheet of that period (carried forward) or to another unit's (copied from an earlier
  // report), near versions of both, and rescaled copies across the two periods. Sheets are matched
  // by sample code.
  std::string againstPeriod;
  // Whether rescaled copies are looked for (off only to measure what looking for them costs).
  bool rescaled = true;
};

// One near-copy sheet of a pair: the sheet (an index into DiscoveryResult::sheets) and the
// number of figure cells in which the two units differ.
struct NearSheet {
  int sheet = 0;
  int cells = 0;
};

// One rescaled sheet of a pair: the left unit's figures are the right unit's times 10^exponent
// (exponent +-1 to +-4), each rounded to the decimals it is stored with.
struct ScaledSheet {
  int sheet = 0;
  int exponent = 0;
};

// A pair of units with repeated data and what was found. Within the period the left unit has the
// smaller code; against the earlier period (`earlier` true) the left unit's sheets are those of the
// period and the right unit's those of the earlier period, and both may be the same unit (carried
// forward).
struct DiscoveredPair {
  UnitPair units;
  std::vector<int> identical;    // sheets (indexes into DiscoveryResult::sheets), in list order
  std::vector<NearSheet> near;   // in list order
  std::vector<ScaledSheet> scaled;  // in list order
  bool earlier = false;
  // Against the earlier period, the same unit in both periods.
  bool carried() const { return earlier && isSelfPair(units); }
};

// Units whose rows of one sheet are identical, confirmed by SameRows: codes in code order.
// Against the earlier period, content that units of both periods share, at least
// commonGroupSize of them in all, is one group too (common), with the units of the earlier period
// in earlierUnitCodes; a group of the period alone has none there.
struct DiscoveredGroup {
  int sheet = 0;
  std::vector<std::string> unitCodes;
  bool common = false;  // at least commonGroupSize units: its pairs are not in the pair list
  std::vector<std::string> earlierUnitCodes{};
};

// Units that are near-copies of one another on a sheet (joined by near-copies of at most the
// limit of cells), at least commonGroupSize of them: near-content, reported once instead of as
// pairs. Codes in code order; `cells` is the most cells in which a unit differs from the unit it
// was found near.
// Against the earlier period, a set joined across the two periods has its units of the earlier
// period in earlierUnitCodes.
struct DiscoveredNearGroup {
  int sheet = 0;
  std::vector<std::string> unitCodes;
  int cells = 0;
  std::vector<std::string> earlierUnitCodes{};
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
  std::string againstPeriodId;  // empty: no earlier period
  std::string periodName;       // the periods as the period list shows them
  std::string againstPeriodName;
  std::vector<TSampleData> sheets;      // the period's sample tables, in their order
  // Per sheet of `sheets`, the earlier period's sample table of the same code (its own table
  // prefix); an empty sSampleCode where the earlier period has none.
  std::vector<TSampleData> againstSheets;
  std::vector<TUnitData> units;         // the units the tree can show, in code order
  // Ranked: most identical sheets first, then most near-copy sheets, then by codes. A pair is
  // listed once, whichever unit comes first.
  std::vector<DiscoveredPair> pairs;
  std::vector<DiscoveredGroup> groups;  // of two units or more, by sheet, then first code
  std::vector<DiscoveredNearGroup> nearGroups;  // by sheet, then first code
  // Sheets whose figures table does not exist (in either period), and sheets whose figure
  // columns differ in number between the two periods (never identical across them).
  std::vector<std::string> warnings;
};

// The units the unit tree can show, each once (by code, where it is first reached), with nLevel
// set to its depth: the level-0 rows without a parent, and under each shown unit the rows one
// level deeper whose parent code is its code. Sorted by code.
std::vector<TUnitData> treeUnits(const std::vector<ClassificationUnit>& rows);

class DuplicateDiscovery {
 public:
  DuplicateDiscovery(TdmDupsweep& dataModule, std::string periodId, std::string taskCode,
                     std::int32_t level, std::string unitClsCode, DiscoverySettings settings = {});

  // Runs the discovery. Progress: begin(sheets + 1), a step after each sheet (of both periods,
  // against an earlier one) and one at the end, all on the calling thread, which waits for the
  // workers; cancelled() is asked after every step and at least every 25 ms while the workers
  // read, and true stops them (within 64 rows or comparisons) and ends the run with
  // RunCancelled. A sheet whose table does not exist is a warning. Throws DatabaseError when the
  // units, the sample list or a sheet cannot be read for another reason (naming the sheet and its
  // table, or a value such as a classification code holding a NUL, which no statement can carry),
  // or a candidate's table is gone when its rows are read again; Error for settings out of range
  // (nearCells below 0, commonGroupSize below 2, an earlier period equal to the period). Throws
  // UnknownDiscoveryInput when the task has no period for the level, the period or
  // the earlier period is not one of them, or the classification has no unit.
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
