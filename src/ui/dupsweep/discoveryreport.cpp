#include "ui/dupsweep/discoveryreport.h"

#include "engine/rescale.h"
#include "platform/spreadsheet/xlsxexport.h"

namespace dupsweep {
namespace {

const std::string& sheetName(const DiscoveryResult& result, int sheet) {
  return result.sheets.at(static_cast<std::size_t>(sheet)).sSampleName;
}

}  // namespace

std::string identicalSheetsText(const DiscoveryResult& result, const DiscoveredPair& pair) {
  std::string text;
  for (int sheet : pair.identical) text += (text.empty() ? "" : "、") + sheetName(result, sheet);
  return text;
}

std::string nearSheetsText(const DiscoveryResult& result, const DiscoveredPair& pair) {
  std::string text;
  for (const NearSheet& near : pair.near)
    text += (text.empty() ? "" : "、") + sheetName(result, near.sheet) + "（" +
            std::to_string(near.cells) + "格）";
  return text;
}

std::string scaledSheetsText(const DiscoveryResult& result, const DiscoveredPair& pair) {
  std::string text;
  for (const ScaledSheet& scaled : pair.scaled)
    text += (text.empty() ? "" : "、") + sheetName(result, scaled.sheet) + "（" +
            scaleFactorText(scaled.exponent) + "）";
  return text;
}

std::string pairUnitText(const DiscoveryResult& result, const DiscoveredPair& pair, Side side) {
  const std::string& name = pair.units[side].sUnitName;
  if (!pair.earlier) return name;
  if (pair.carried())
    return side == Left ? name + " " + result.againstPeriodName + " → " + result.periodName : name;
  return name + " " + (side == Left ? result.periodName : result.againstPeriodName);
}

bool isDeletablePair(const DiscoveredPair& pair) {
  return !pair.earlier && (!pair.identical.empty() || !pair.near.empty());
}

std::string nearGroupSheetText(const DiscoveryResult& result, const DiscoveredNearGroup& group) {
  return sheetName(result, group.sheet) + "（" + std::to_string(group.cells) + "格）";
}

std::string nearGroupKindText(const DiscoveredNearGroup& group) {
  return "近似（最多相差" + std::to_string(group.cells) + "格）";
}

const std::vector<std::string>& discoveryPairColumns() {
  static const std::vector<std::string> columns = {
      "单位1",    "单位1代码", "单位2",        "单位2代码",     "相同表数",
      "相同的表", "近似的表",  "上期相同的表", "按比例相同的表"};
  return columns;
}

const std::vector<std::string>& discoveryGroupColumns() {
  static const std::vector<std::string> columns = {"表代码", "表", "单位数", "共同内容",
                                                   "单位代码", "期间"};
  return columns;
}

void writeDiscoveryWorkbook(const std::string& path, const DiscoveryResult& result) {
  sheet::XlsxExport book(path);
  const int pairs = book.addTable("重复数据单位", discoveryPairColumns(),
                                  {16, 12, 16, 12, 10, 40, 30, 40, 30});
  for (const DiscoveredPair& pair : result.pairs) {
    // The identical sheets go to 相同的表 within the period, to 上期相同的表 against the earlier one.
    const std::string identical = identicalSheetsText(result, pair);
    book.appendRow(pairs, {pairUnitText(result, pair, Left), pair.units[Left].sUnitCode,
                           pairUnitText(result, pair, Right), pair.units[Right].sUnitCode,
                           static_cast<double>(pair.identical.size()),
                           pair.earlier ? std::string() : identical, nearSheetsText(result, pair),
                           pair.earlier ? identical : std::string(),
                           scaledSheetsText(result, pair)});
  }
  // One unit a row: the units of a group can be more than one cell holds.
  const int groups = book.addTable("相同的表", discoveryGroupColumns(), {10, 20, 8, 16, 14, 12});
  const auto unitRows = [&](const TSampleData& sheet, const std::vector<std::string>& units,
                            const std::vector<std::string>& earlierUnits, const std::string& kind) {
    const auto size = static_cast<double>(units.size() + earlierUnits.size());
    for (const std::string& code : units)
      book.appendRow(groups, {sheet.sSampleCode, sheet.sSampleName, size, kind, code,
                              result.periodId});
    for (const std::string& code : earlierUnits)
      book.appendRow(groups, {sheet.sSampleCode, sheet.sSampleName, size, kind, code,
                              result.againstPeriodId});
  };
  for (const DiscoveredGroup& group : result.groups)
    unitRows(result.sheets.at(static_cast<std::size_t>(group.sheet)), group.unitCodes,
             group.earlierUnitCodes, group.common ? "是" : "否");
  for (const DiscoveredNearGroup& group : result.nearGroups)
    unitRows(result.sheets.at(static_cast<std::size_t>(group.sheet)), group.unitCodes,
             group.earlierUnitCodes, nearGroupKindText(group));
  book.close();
}

}  // namespace dupsweep
