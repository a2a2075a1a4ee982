#pragma once
// The result of a comparison run as a table for the operator: every pair the run compared, with
// each sheet found identical for it, and the workbook file that table is exported to. No widgets:
// the dialog only asks for the file name.

#include <memory>
#include <string>
#include <vector>

#include "model/pair.h"
#include "model/records.h"

namespace dupsweep {

// What a comparison run compared: the period and the pairs, each with its units as they stood at
// the run, in the order they were compared.
struct ComparisonRunRecord {
  std::string sPeriodID;
  std::string sPeriodName;  // as the period list showed it
  std::vector<UnitPair> pairs;
};

// The titles of the result table's columns: 单位组, 单位1, 单位1代码, 单位2, 单位2代码, 期间,
// 期间代码, 相同的表代码, 相同的表.
const std::vector<std::string>& comparisonColumns();

// The rows of the result table, under comparisonColumns(). Per pair of `run` (a pair compared
// more than once only at its first place): one row for each table of `found` that was found
// identical for it (same name and units), each table once, in the order of `found`; or, when
// none was, one row whose two table columns are empty.
std::vector<std::vector<std::string>> comparisonRows(
    const ComparisonRunRecord& run, const std::vector<std::unique_ptr<DifferenceData>>& found);

// Writes comparisonColumns() and comparisonRows() to a sheet "比对结果" of an xlsx workbook at
// `path` (rows beyond a sheet's go on in "比对结果 (2)"... below the titles again), replacing a file
// there. Throws FileError "Unable to write to <path>: <reason>" on failure, leaving no new file.
void writeComparisonWorkbook(const std::string& path, const ComparisonRunRecord& run,
                             const std::vector<std::unique_ptr<DifferenceData>>& found);

}  // namespace dupsweep
