#include "ui/dupsweep/reviewreport.h"

#include "engine/rescale.h"

#include "platform/spreadsheet/xlsxexport.h"
#include "ui/texts.h"

namespace dupsweep {

const std::vector<std::string>& reviewFindingColumns() {
  static const std::vector<std::string> columns = {
      "单位1",  "单位1代码", "单位1级次", "单位2",    "单位2代码", "单位2级次",
      "表代码", "表",        "类型",      "期间",     "对比期间",  "相差格数",
      "审核",   "备注",      "审核人",    "审核时间", "删除记录"};
  return columns;
}

std::string findingKindText(const std::string& kind) {
  if (kind == kIdenticalKind) return "相同";
  if (kind == kNearKind) return "近似";
  if (kind == kCarriedKind) return "与本单位上期相同";
  if (kind == kCopiedFromKind) return "与其他单位上期相同";
  if (kind == kCarriedNearKind) return "与本单位上期近似";
  if (kind == kCopiedFromNearKind) return "与其他单位上期近似";
  if (kind == kScaledKind) return "按比例相同";
  return kind;
}

void writeReviewWorkbook(const std::string& path, const DiscoveryResult& result,
                         const std::vector<ReviewedFinding>& reviewed,
                         const std::vector<std::vector<CellDifference>>& differences,
                         const std::vector<journal::Entry>& deletions) {
  sheet::XlsxExport book(path);
  const int findings =
      book.addTable("审核结果", reviewFindingColumns(),
                    {16, 12, 8, 16, 12, 8, 10, 20, 8, 10, 10, 8, 18, 24, 10, 20, 12});
  int confirmed = 0;
  for (std::size_t i = 0; i < reviewed.size(); ++i) {
    const ReviewedFinding& r = reviewed[i];
    const UnitPair& units = result.pairs.at(static_cast<std::size_t>(r.finding.pair)).units;
    const TSampleData& sheet = result.sheets.at(static_cast<std::size_t>(r.finding.sheet));
    std::string deleted;
    for (const journal::Entry& e : deletions) {
      const bool ofPair =
          (e.unitCode == units[Left].sUnitCode && e.otherUnitCode == units[Right].sUnitCode) ||
          (e.unitCode == units[Right].sUnitCode && e.otherUnitCode == units[Left].sUnitCode);
      if (ofPair && e.sampleCode == sheet.sSampleCode && e.periodId == result.periodId &&
          e.state != journal::State::RolledBack)
        deleted += (deleted.empty() ? "" : "、") + std::to_string(e.id);
    }
    // A decision no longer held (the rows changed since) is shown with what it was.
    const std::string decision = r.changed() ? texts::review::changedMark(r.mark, r.decision->mark)
                                             : texts::markText(r.mark);
    const bool withNote = r.decision.has_value();
    std::string kindText = findingKindText(r.finding.kind);  // a rescaled copy with its factor
    if (r.finding.kind == kScaledKind) kindText += "（" + scaleFactorText(r.finding.exponent) + "）";
    book.appendRow(
        findings,
        {units[Left].sUnitName, units[Left].sUnitCode, static_cast<double>(units[Left].nLevel),
         units[Right].sUnitName, units[Right].sUnitCode, static_cast<double>(units[Right].nLevel),
         sheet.sSampleCode, sheet.sSampleName, kindText, result.periodId,
         r.finding.againstPeriod, static_cast<double>(r.finding.cells), decision,
         withNote ? r.decision->note : std::string(), withNote ? r.decision->who : std::string(),
         withNote ? r.decision->when : std::string(), deleted});
    if (r.mark != Mark::Confirmed) continue;
    const int cells =
        book.addTable("确认" + std::to_string(++confirmed) + " " + sheet.sSampleCode,
                      {"行", "列", units[Left].sUnitName, units[Right].sUnitName}, {8, 8, 20, 20});
    if (i < differences.size())
      for (const CellDifference& d : differences[i])
        book.appendRow(
            cells, {static_cast<double>(d.row), static_cast<double>(d.column), d.left, d.right});
  }
  book.close();
}

}  // namespace dupsweep
