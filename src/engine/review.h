#pragma once
// Reviewing what discovery finds: each finding of a discovery (a sheet of a pair, of a kind) with
// the reviewer's decision that holds on it now. A decision holds while both sides' rows are as
// they were when it was made (their fingerprint); once either side changes, the finding is
// pending again and its old decision is shown. Also the rule of a batch deletion's Status rows.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/dmdupsweep.h"
#include "engine/discovery.h"
#include "model/decision.h"
#include "model/pair.h"

namespace dupsweep {

// The kinds of finding discovery makes today. Kinds are an open set: a kind is named as the
// scanner's JSON names its array, and a kind these functions do not know is reviewed alike.
inline constexpr const char* kIdenticalKind = "identical";
inline constexpr const char* kNearKind = "near";
// Against an earlier period: the same unit's report (carried forward) or another unit's.
inline constexpr const char* kCarriedKind = "carried";
inline constexpr const char* kCopiedFromKind = "copiedFrom";
inline constexpr const char* kCarriedNearKind = "carriedNear";
inline constexpr const char* kCopiedFromNearKind = "copiedFromNear";
inline constexpr const char* kScaledKind = "scaled";  // the left side is the right one x 10^exponent

// One finding: a sheet of a discovered pair, of a kind.
struct Finding {
  int pair = 0;   // index into DiscoveryResult::pairs
  int sheet = 0;  // index into DiscoveryResult::sheets
  std::string kind;
  int cells = 0;              // the differing cells of a near finding
  std::string againstPeriod;  // the right side's period for a finding against another period
  int exponent = 0;           // of a rescaled finding
};

// Every finding of `result`, pair by pair in the result's order: identical sheets, then near ones,
// then rescaled ones; against the earlier period under the kinds of that period.
std::vector<Finding> findingsOf(const DiscoveryResult& result);

// The key of `finding`, for the database of identity `database` and the discovery's task and
// level: the units' codes in code order.
FindingKey keyOf(const DiscoveryResult& result, const Finding& finding, const std::string& database,
                 const std::string& taskCode, std::int32_t level);

// A fingerprint of both sides' rows of the finding's sheet as they are now (every figure of every
// row, each with its kind), read through `dataModule`, in the order of the key's unit codes. A
// side without rows or without a table has a fingerprint of its own. Throws DatabaseError.
std::string rowsFingerprint(TdmDupsweep& dataModule, const DiscoveryResult& result,
                            const Finding& finding);

struct ReviewedFinding {
  Finding finding;
  FindingKey key;
  Mark mark = Mark::Pending;         // what holds now
  std::optional<Decision> decision;  // the decision kept on the finding, held or not
  // A decision is kept, but either side's rows have changed since it was made.
  bool changed() const noexcept {
    return decision && mark == Mark::Pending && decision->mark != Mark::Pending;
  }
};

// `finding` of `result` with the decision of `decisions` that holds on it: its rows are read when
// a decision is kept on it. Throws DatabaseError.
ReviewedFinding reviewFinding(TdmDupsweep& dataModule, const DiscoveryResult& result,
                              const std::vector<Decision>& decisions, const std::string& database,
                              const std::string& taskCode, std::int32_t level, Finding finding);

// The findings of `result` with the decisions of `decisions` that hold on them. Only the rows of
// findings that have a decision are read. Throws DatabaseError.
std::vector<ReviewedFinding> reviewFindings(TdmDupsweep& dataModule, const DiscoveryResult& result,
                                            const std::vector<Decision>& decisions,
                                            const std::string& database,
                                            const std::string& taskCode, std::int32_t level);

// A cell in which the two sides of a finding differ: its grid row (nRow) and column, and each
// side's value as shown.
struct CellDifference {
  int row = 0;
  int column = 0;
  std::string left, right;
};

// The cells in which both sides' rows of the finding's sheet differ now, by the rule of SameRows
// (rows paired by position, figures from column 5 on, a row or column one side lacks counting
// as differing, shown empty). Throws DatabaseError.
// With `explained`, instead the cells whose values differ but that a rescaled finding's factor
// explains (none for other kinds).
std::vector<CellDifference> differingCells(TdmDupsweep& dataModule, const DiscoveryResult& result,
                                           const Finding& finding, bool explained = false);

// One copy a batch deletion removes: the side of the pair whose copy of an identical sheet of the
// searched period goes.
struct CopyToDelete {
  int pair = 0;
  int sheet = 0;
  Side copyOf = Right;
};

// For each copy of `copies`, deleted in their order, whether its unit's Status row goes with it:
// with the last identical sheet of that pair still there, as the dialog's deletion has it. Near
// findings and findings marked legitimate in `reviewed` do not count; a sheet counts as gone
// once the batch has deleted either side's copy.
std::vector<bool> statusGoesWith(const std::vector<ReviewedFinding>& reviewed,
                                 const std::vector<CopyToDelete>& copies);

}  // namespace dupsweep
