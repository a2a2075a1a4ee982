#include "ui/dupsweep/runreport.h"

#include <algorithm>

#include "data/dmdupsweep.h"
#include "platform/spreadsheet/xlsxexport.h"

namespace dupsweep {
namespace {

bool foundFor(const DifferenceData& found, const UnitPair& pair) {
  return found.sGroupName == pair.name && samePair(found.pair, pair);
}

// Two findings of one pair stand for the same table when they name the same sheet and data table.
bool sameTable(const TSampleData& a, const TSampleData& b) {
  return a.sSampleCode == b.sSampleCode && a.sSampleName == b.sSampleName &&
         NumTableName(a) == NumTableName(b);
}

}  // namespace

const std::vector<std::string>& comparisonColumns() {
  static const std::vector<std::string> columns = {"单位组",   "单位1",        "单位1代码",
                                                   "单位2",    "单位2代码",    "期间",
                                                   "期间代码", "相同的表代码", "相同的表"};
  return columns;
}

std::vector<std::vector<std::string>> comparisonRows(
    const ComparisonRunRecord& run, const std::vector<std::unique_ptr<DifferenceData>>& found) {
  std::vector<std::vector<std::string>> rows;
  std::vector<const UnitPair*> listed;
  for (const UnitPair& pair : run.pairs) {
    if (std::any_of(listed.begin(), listed.end(),
                    [&pair](const UnitPair* done) { return samePair(*done, pair); }))
      continue;
    listed.push_back(&pair);
    const std::vector<std::string> start = {
        pair.name,        pair[Left].sUnitName, pair[Left].sUnitCode, pair[Right].sUnitName,
        pair[Right].sUnitCode, run.sPeriodName,     run.sPeriodID};
    std::vector<const TSampleData*> tables;
    for (const auto& entry : found) {
      if (!entry || !foundFor(*entry, pair)) continue;
      const TSampleData& table = entry->Sample;
      if (std::any_of(tables.begin(), tables.end(),
                      [&table](const TSampleData* done) { return sameTable(*done, table); }))
        continue;
      tables.push_back(&table);
      std::vector<std::string> row = start;
      row.push_back(table.sSampleCode);
      row.push_back(table.sSampleName);
      rows.push_back(std::move(row));
    }
    if (tables.empty()) {
      std::vector<std::string> row = start;
      row.resize(comparisonColumns().size());
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

void writeComparisonWorkbook(const std::string& path, const ComparisonRunRecord& run,
                             const std::vector<std::unique_ptr<DifferenceData>>& found) {
  sheet::XlsxExport book(path);
  // Widths in characters, for the titles and the usual names and codes beneath them.
  const int table =
      book.addTable("比对结果", comparisonColumns(), {28, 16, 12, 16, 12, 16, 10, 12, 20});
  for (const std::vector<std::string>& cells : comparisonRows(run, found))
    book.appendRow(table, std::vector<sheet::XlsxExport::Value>(cells.begin(), cells.end()));
  book.close();
}

}  // namespace dupsweep
