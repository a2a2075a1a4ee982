#include "ui/showdifference/differenceexport.h"

#include <algorithm>
#include <array>
#include <set>
#include <tuple>

#include "platform/spreadsheet/xlsxexport.h"
#include "platform/text/text.h"

namespace dupsweep::viewer {
namespace {

constexpr const char* kListSheet = "差异清单";
constexpr std::array<const char*, 8> kListColumns{"序号",   "表",     "行",     "列",
                                                  "左边值", "右边值", "单位对", "期间"};
constexpr std::array<double, 8> kListWidths{6, 20, 8, 8, 24, 24, 30, 16};
constexpr double kGapWidth = 2;

using Place = std::tuple<int, int, int>;  // sheet, row, col

// Every cell of `sheet` with text, grid row r at row r and column c at c - 1 + colOffset (0-based).
void writeCopy(sheet::XlsxExport& out, int index, int sheetNumber, const sheet::Worksheet& sheet,
               int colOffset, const std::set<Place>& red) {
  for (const sheet::CellPosition& cell : sheet.textCells(sheet.lastRow())) {
    out.write(index, cell.row, cell.col - 1 + colOffset,
              std::string(sheet.text(cell.row, cell.col)),
              red.contains({sheetNumber, cell.row, cell.col}));
  }
}

}  // namespace

double xlsxColumnWidth(double points) {
  const double pixels = points * 96.0 / 72.0;
  return std::max(0.0, (pixels - 5.0) / 7.0);
}

void exportDifferences(const std::string& path, const sheet::Workbook& left,
                       const sheet::Workbook& right, const std::vector<DifferenceLine>& lines,
                       const ExportCaptions& captions) {
  sheet::XlsxExport out(path);
  const int list =
      out.addTable(kListSheet, std::vector<std::string>(kListColumns.begin(), kListColumns.end()),
                   std::vector<double>(kListWidths.begin(), kListWidths.end()));
  std::set<Place> red;
  for (const DifferenceLine& line : lines) {
    out.appendRow(list, {static_cast<double>(line.number), text::utf16ToUtf8(line.sheetName),
                         static_cast<double>(line.row), static_cast<double>(line.col),
                         text::utf16ToUtf8(line.leftText), text::utf16ToUtf8(line.rightText),
                         captions.pair, captions.period});
    red.insert({line.sheet, line.row, line.col});
  }

  for (int number = 1; number <= left.sheetCount(); ++number) {
    const sheet::Worksheet& leftSheet = left.sheet(number);
    const sheet::Worksheet* rightSheet =
        number <= right.sheetCount() ? &right.sheet(number) : nullptr;
    const int width = std::max(leftSheet.lastCol(), rightSheet ? rightSheet->lastCol() : 0);
    const int rightOffset = width + 1;
    const int index = out.addSheet(leftSheet.name());
    out.write(index, 0, 0, captions.left);
    if (rightSheet) out.write(index, 0, rightOffset, captions.right);
    writeCopy(out, index, number, leftSheet, 0, red);
    if (rightSheet) writeCopy(out, index, number, *rightSheet, rightOffset, red);
    for (int col = 1; col <= width; ++col) {
      if (!leftSheet.hasColumnWidth(col)) continue;
      const double chars = xlsxColumnWidth(leftSheet.columnWidth(col));
      out.setColumnWidth(index, col - 1, chars);
      if (rightSheet) out.setColumnWidth(index, col - 1 + rightOffset, chars);
    }
    if (width > 0) out.setColumnWidth(index, width, kGapWidth);
  }
  out.close();
}

}  // namespace dupsweep::viewer
