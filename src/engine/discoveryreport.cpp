#include "engine/discoveryreport.h"

#include "platform/spreadsheet/xlsxexport.h"

namespace dupsweep {
namespace {

const std::string& sheetName(const DiscoveryResult& result, int sheet) {
  return result.sheets.at(static_cast<std::size_t>(sheet)).sSampleName;
}

void writeTable(sheet::XlsxExport& book, const std::string& name,
                const std::vector<std::string>& titles, const std::vector<double>& widths,
                const std::vector<std::vector<std::string>>& rows) {
  const int sheet = book.addSheet(name);
  for (std::size_t col = 0; col < titles.size(); ++col) {
    book.write(sheet, 0, static_cast<int>(col), titles[col]);
    book.setColumnWidth(sheet, static_cast<int>(col), widths[col]);
  }
  for (std::size_t row = 0; row < rows.size(); ++row)
    for (std::size_t col = 0; col < rows[row].size(); ++col)
      book.write(sheet, static_cast<int>(row) + 1, static_cast<int>(col), rows[row][col]);
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
  std::vector<std::vector<std::string>> pairs;
  for (const DiscoveredPair& pair : result.pairs)
    pairs.push_back({pair.UnitS.sUnitName, pair.UnitS.sUnitCode, pair.UnitD.sUnitName,
                     pair.UnitD.sUnitCode, std::to_string(pair.identical.size()),
                     identicalSheetsText(result, pair), nearSheetsText(result, pair)});
  writeTable(book, "重复数据单位", discoveryPairColumns(), {16, 12, 16, 12, 10, 40, 30}, pairs);
  std::vector<std::vector<std::string>> groups;
  for (const DiscoveredGroup& group : result.groups) {
    const TSampleData& sheet = result.sheets.at(static_cast<std::size_t>(group.sheet));
    std::string codes;
    for (const std::string& code : group.unitCodes) codes += (codes.empty() ? "" : "、") + code;
    groups.push_back({sheet.sSampleCode, sheet.sSampleName, std::to_string(group.unitCodes.size()),
                      group.common ? "是" : "否", codes});
  }
  for (const DiscoveredNearGroup& group : result.nearGroups) {
    const TSampleData& sheet = result.sheets.at(static_cast<std::size_t>(group.sheet));
    std::string codes;
    for (const std::string& code : group.unitCodes) codes += (codes.empty() ? "" : "、") + code;
    groups.push_back({sheet.sSampleCode, sheet.sSampleName, std::to_string(group.unitCodes.size()),
                      nearGroupKindText(group), codes});
  }
  writeTable(book, "相同的表", discoveryGroupColumns(), {10, 20, 8, 10, 60}, groups);
  book.close();
}

}  // namespace dupsweep
