#include "engine/review.h"

#include <xxhash.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "data/statements.h"
#include "engine/compare.h"
#include "engine/rescale.h"
#include "model/records.h"

namespace dupsweep {
namespace {

// The fingerprint of one side's rows: a hash of every figure of every row with its kind, and of
// the row count; "-" when there are none (or no table).
std::string sideFingerprint(TdmDupsweep& dm, const std::string& table, const std::string& unitCode,
                            const std::string& period) {
  const std::unique_ptr<db::RowSet> rows = dm.OpenUnitData(table, unitCode, period);
  if (!rows || rows->rowCount() == 0) return "-";
  XXH3_state_t* state = XXH3_createState();
  XXH3_64bits_reset(state);
  const auto add = [state](const void* p, std::size_t n) { XXH3_64bits_update(state, p, n); };
  for (int r = 0; r < rows->rowCount(); ++r) {
    const char mark = '\n';
    add(&mark, 1);
    for (int c = kFirstFigureColumn; c < rows->columnCount(); ++c) {
      const db::CellView v = rows->view(r, c);
      const auto kind = static_cast<unsigned char>(v.kind);
      add(&kind, 1);
      switch (v.kind) {
        case db::ValueKind::Null:
          break;
        case db::ValueKind::Integer:
        case db::ValueKind::Boolean:
          add(&v.integer, sizeof v.integer);
          break;
        case db::ValueKind::Floating:
          add(&v.floating, sizeof v.floating);
          break;
        default: {
          const std::uint64_t size = v.bytes.size();
          add(&size, sizeof size);
          add(v.bytes.data(), v.bytes.size());
        }
      }
    }
  }
  const std::uint64_t hash = XXH3_64bits_digest(state);
  XXH3_freeState(state);
  char text[40];
  std::snprintf(text, sizeof text, "%d:%016llx", rows->rowCount(),
                static_cast<unsigned long long>(hash));
  return text;
}

// The figures tables of both sides of `finding`: the right side's is the earlier period's own for
// a finding against it.
BySide<std::string> tablesOf(const DiscoveryResult& result, const Finding& finding) {
  const auto sheet = static_cast<std::size_t>(finding.sheet);
  const std::string left = NumTableName(result.sheets.at(sheet));
  if (finding.againstPeriod.empty()) return {left, left};
  if (sheet >= result.againstSheets.size() || result.againstSheets[sheet].sSampleCode.empty())
    throw Error("The sheet " + result.sheets[sheet].sSampleCode + " has no table in period " +
                finding.againstPeriod);
  return {left, NumTableName(result.againstSheets[sheet])};
}

}  // namespace

std::vector<Finding> findingsOf(const DiscoveryResult& result) {
  std::vector<Finding> findings;
  for (std::size_t p = 0; p < result.pairs.size(); ++p) {
    const DiscoveredPair& pair = result.pairs[p];
    const int at = static_cast<int>(p);
    const std::string period = pair.earlier ? result.againstPeriodId : std::string();
    const char* same = !pair.earlier ? kIdenticalKind : pair.carried() ? kCarriedKind : kCopiedFromKind;
    const char* close = !pair.earlier ? kNearKind : pair.carried() ? kCarriedNearKind : kCopiedFromNearKind;
    for (int sheet : pair.identical) findings.push_back({at, sheet, same, 0, period});
    for (const NearSheet& near : pair.near)
      findings.push_back({at, near.sheet, close, near.cells, period});
    for (const ScaledSheet& scaled : pair.scaled)
      findings.push_back({at, scaled.sheet, kScaledKind, 0, period, scaled.exponent});
  }
  return findings;
}

FindingKey keyOf(const DiscoveryResult& result, const Finding& finding, const std::string& database,
                 const std::string& taskCode, std::int32_t level) {
  const UnitPair& units = result.pairs.at(static_cast<std::size_t>(finding.pair)).units;
  FindingKey key;
  key.database = database;
  key.periodId = result.periodId;
  key.againstPeriod = finding.againstPeriod;
  key.taskCode = taskCode;
  key.level = level;
  key.unitCode1 = units[Left].sUnitCode;
  key.unitCode2 = units[Right].sUnitCode;
  // A finding against another period is not symmetric: its sides stay as found.
  if (finding.againstPeriod.empty() && key.unitCode2 < key.unitCode1)
    std::swap(key.unitCode1, key.unitCode2);
  key.sampleCode = result.sheets.at(static_cast<std::size_t>(finding.sheet)).sSampleCode;
  return key;
}

std::string rowsFingerprint(TdmDupsweep& dataModule, const DiscoveryResult& result,
                            const Finding& finding) {
  const UnitPair& units = result.pairs.at(static_cast<std::size_t>(finding.pair)).units;
  const BySide<std::string> tables = tablesOf(result, finding);
  const std::string& rightPeriod =
      finding.againstPeriod.empty() ? result.periodId : finding.againstPeriod;
  std::string left = sideFingerprint(dataModule, tables[Left], units[Left].sUnitCode, result.periodId);
  std::string right = sideFingerprint(dataModule, tables[Right], units[Right].sUnitCode, rightPeriod);
  if (finding.againstPeriod.empty() && units[Right].sUnitCode < units[Left].sUnitCode)
    std::swap(left, right);
  return left + " " + right;
}

ReviewedFinding reviewFinding(TdmDupsweep& dataModule, const DiscoveryResult& result,
                              const std::vector<Decision>& decisions, const std::string& database,
                              const std::string& taskCode, std::int32_t level, Finding finding) {
  ReviewedFinding r;
  r.key = keyOf(result, finding, database, taskCode, level);
  const auto kept = std::find_if(decisions.begin(), decisions.end(),
                                 [&](const Decision& d) { return d.key == r.key; });
  if (kept != decisions.end()) {
    r.decision = *kept;
    if (kept->fingerprint == rowsFingerprint(dataModule, result, finding)) r.mark = kept->mark;
  }
  r.finding = std::move(finding);
  return r;
}

std::vector<ReviewedFinding> reviewFindings(TdmDupsweep& dataModule, const DiscoveryResult& result,
                                            const std::vector<Decision>& decisions,
                                            const std::string& database,
                                            const std::string& taskCode, std::int32_t level) {
  std::vector<ReviewedFinding> reviewed;
  for (Finding& finding : findingsOf(result))
    reviewed.push_back(reviewFinding(dataModule, result, decisions, database, taskCode, level,
                                     std::move(finding)));
  return reviewed;
}

std::vector<CellDifference> differingCells(TdmDupsweep& dataModule, const DiscoveryResult& result,
                                           const Finding& finding, bool explained) {
  const UnitPair& units = result.pairs.at(static_cast<std::size_t>(finding.pair)).units;
  const BySide<std::string> tables = tablesOf(result, finding);
  const std::string& rightPeriod =
      finding.againstPeriod.empty() ? result.periodId : finding.againstPeriod;
  const auto left = dataModule.OpenUnitData(tables[Left], units[Left].sUnitCode, result.periodId);
  const auto right = dataModule.OpenUnitData(tables[Right], units[Right].sUnitCode, rightPeriod);
  std::vector<CellDifference> cells;
  if (!left || !right) return cells;
  // A rescaled finding's cells fit when the copy's value (the rounded side: the left one when the
  // whole sheet holds so) is the original's times its factor.
  const int e = finding.exponent;
  const bool leftIsCopy = finding.kind == kScaledKind && isRescaledCopy(*left, *right, e);
  const auto fits = [&](const db::CellView& l, const db::CellView& r) {
    if (finding.kind != kScaledKind) return db::sameValue(l, r);
    return leftIsCopy ? isRescaledValue(l, r, e) : isRescaledValue(r, l, -e);
  };
  const int rows = std::max(left->rowCount(), right->rowCount());
  const int columns = std::max(left->columnCount(), right->columnCount());
  const auto shown = [](const db::RowSet& set, int r, int c) {
    return r < set.rowCount() && c < set.columnCount() ? db::displayText(set.view(r, c))
                                                       : std::string();
  };
  for (int r = 0; r < rows; ++r) {
    // The grid row as the side that has the row numbers it; its position when it cannot.
    const db::RowSet& named = r < left->rowCount() ? *left : *right;
    const int at = named.findColumn("nRow");
    const db::CellView number = at >= 0 ? named.view(r, at) : db::CellView{};
    const int nRow =
        number.kind == db::ValueKind::Integer ? static_cast<int>(number.integer) : r + 1;
    for (int c = kFirstFigureColumn; c < columns; ++c) {
      const bool same = r < left->rowCount() && r < right->rowCount() && c < left->columnCount() &&
                        c < right->columnCount() && fits(left->view(r, c), right->view(r, c));
      const bool listed = explained ? same && finding.kind == kScaledKind &&
                                          !db::sameValue(left->view(r, c), right->view(r, c))
                                    : !same;
      if (listed)
        cells.push_back({nRow, c - kGridColumnOffset, shown(*left, r, c), shown(*right, r, c)});
    }
  }
  return cells;
}

std::vector<bool> statusGoesWith(const std::vector<ReviewedFinding>& reviewed,
                                 const std::vector<CopyToDelete>& copies) {
  // The identical sheets of each pair that count: same period, not marked legitimate.
  std::set<std::pair<int, int>> there;
  for (const ReviewedFinding& r : reviewed)
    if (r.finding.kind == kIdenticalKind && r.finding.againstPeriod.empty() &&
        r.mark != Mark::Legitimate)
      there.insert({r.finding.pair, r.finding.sheet});
  std::vector<bool> status;
  for (const CopyToDelete& copy : copies) {
    there.erase({copy.pair, copy.sheet});
    const auto first = there.lower_bound({copy.pair, 0});
    status.push_back(first == there.end() || first->first != copy.pair);
  }
  return status;
}

}  // namespace dupsweep
