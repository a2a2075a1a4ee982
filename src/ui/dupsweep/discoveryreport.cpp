#include "ui/dupsweep/discoveryreport.h"

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

std::string nearGroupSheetText(const DiscoveryResult& result, const DiscoveredNearGroup& group) {
  return sheetName(result, group.sheet) + "（" + std::to_string(group.cells) + "格）";
}

std::string nearGroupKindText(const DiscoveredNearGroup& group) {
  return "近似（最多相差" + std::to_string(group.cells) + "格）";
}

const std::vector<std::string>& discoveryPairColumns() {
  static const std::vector<std::string> columns = {
      "单位1", "单位1代码", "单位2", "单位2代码", "相同表数", "相同的表", "近似的表"};
  return columns;
}

const std::vector<std::string>& discoveryGroupColumns() {
  static const std::vector<std::string> columns = {"表代码", "表", "单位数", "共同内容",
                                                   "单位代码"};
  return columns;
}

void writeDiscoveryWorkbook(const std::string& path, const DiscoveryResult& result) {
  sheet::XlsxExport book(path);
  const int pairs =
      book.addTable("重复数据单位", discoveryPairColumns(), {16, 12, 16, 12, 10, 40, 30});
  for (const DiscoveredPair& pair : result.pairs)
    book.appendRow(
        pairs, {pair.units[Left].sUnitName, pair.units[Left].sUnitCode, pair.units[Right].sUnitName,
                pair.units[Right].sUnitCode, static_cast<double>(pair.identical.size()),
                identicalSheetsText(result, pair), nearSheetsText(result, pair)});
  // One unit a row: the units of a group can be more than one cell holds.
  const int groups = book.addTable("相同的表", discoveryGroupColumns(), {10, 20, 8, 16, 14});
  for (const DiscoveredGroup& group : result.groups) {
    const TSampleData& sheet = result.sheets.at(static_cast<std::size_t>(group.sheet));
    const auto size = static_cast<double>(group.unitCodes.size());
    for (const std::string& code : group.unitCodes)
      book.appendRow(
          groups, {sheet.sSampleCode, sheet.sSampleName, size, group.common ? "是" : "否", code});
  }
  for (const DiscoveredNearGroup& group : result.nearGroups) {
    const TSampleData& sheet = result.sheets.at(static_cast<std::size_t>(group.sheet));
    const auto size = static_cast<double>(group.unitCodes.size());
    for (const std::string& code : group.unitCodes)
      book.appendRow(groups, {sheet.sSampleCode, sheet.sSampleName, size,
                              nearGroupKindText(group), code});
  }
  book.close();
}

}  // namespace dupsweep
