#include "ui/showdifference/comparison.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "engine/compare.h"
#include "platform/errors.h"
#include "platform/spreadsheet/workbook.h"
#include "platform/text/text.h"

namespace dupsweep::viewer {

void fillBooks(db::RowSet& S, db::RowSet& D, SheetControl& left, SheetControl& right) {
  const Grids grids{&left, &right};
  forEachFigure(S, D, [&](dupsweep::Side side, int row, int col, const db::CellView& value) {
    grids[side]->EntryRC(row, col, db::displayText(value));
  });
}

void findSheetDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink,
                          const ExplainedCell& explained) {
  int number = 1;
  const int lastRow = left.LastRow();
  if (lastRow <= 0) return;
  // Only a cell with text in either grid can differ; visiting just those keeps the cost to what
  // the sheets hold (one cell at XFD1048576 would otherwise mean 17 billion). Marking changes no
  // text, so these positions stay valid.
  const std::vector<sheet::CellPosition> leftCells = left.textCells(lastRow);
  const std::vector<sheet::CellPosition> rightCells = right.textCells(lastRow);
  std::vector<sheet::CellPosition> cells;
  cells.reserve(leftCells.size() + rightCells.size());
  std::set_union(leftCells.begin(), leftCells.end(), rightCells.begin(), rightCells.end(),
                 std::back_inserter(cells));
  const sheet::Worksheet* leftSheet = left.currentWorksheet();
  const sheet::Worksheet* rightSheet = right.currentWorksheet();
  int row = 0;
  int lastCol = 0;
  for (const sheet::CellPosition& cell : cells) {
    if (cell.row != row) {
      row = cell.row;
      lastCol = left.LastCol();  // afresh for every row visited
    }
    const int col = cell.col;
    if (col > lastCol) continue;
    // Where both controls keep their sheets here, texts are compared as kept, in UTF-8, which is
    // equal exactly when UTF-16 is; invalid UTF-8 is left to text(), which fails on it.
    bool differ = false;
    if (leftSheet && rightSheet) {
      const std::string_view leftKept = leftSheet->text(row, col);
      const std::string_view rightKept = rightSheet->text(row, col);
      if (leftKept == rightKept && text::isValidUtf8(leftKept)) continue;
      differ = leftKept != rightKept;
    }
    std::u16string leftText = left.text(row, col);
    std::u16string rightText = right.text(row, col);
    if (!differ && leftText == rightText) continue;
    if (explained && explained(left.Sheet(), row, col)) continue;
    DifferenceLine line;
    line.number = number;
    line.sheet = left.Sheet();
    line.sheetName = left.sheetName(line.sheet);
    line.row = row;
    line.col = col;
    line.leftText = std::move(leftText);
    line.rightText = std::move(rightText);
    sink.addDifference(line);
    markCell(left, right, row, col);
    ++number;
  }
}

void findAllDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink,
                        const ExplainedCell& explained) {
  const int sheets = left.NumSheets();
  for (int sheet = 1; sheet <= sheets; ++sheet) {
    left.setSheet(sheet);
    right.setSheet(sheet);
    findSheetDifferences(left, right, sink, explained);
  }
  left.setSheet(1);
  right.setSheet(1);
}

void markCell(SheetControl& left, SheetControl& right, int row, int col) {
  left.setRow(row);
  left.setCol(col);
  const std::unique_ptr<CellFormatObject> format = left.getCellFormat();
  if (!format) throw Error("The grid gave no format for its active cell");
  format->setColor(kMarkColor);
  format->setBold(true);
  left.setCellFormat(*format);
  right.setRow(row);
  right.setCol(col);
  // The left cell's format, so that both cells look alike whatever the right one held.
  right.setCellFormat(*format);
}

void showDifference(SheetControl& left, SheetControl& right, int sheet, int row, int col) {
  left.setSheet(sheet);
  right.setSheet(sheet);
  left.setRow(row);
  left.setCol(col);
  right.setRow(row);
  right.setCol(col);
  left.takeFocus();
  left.showActiveCell();
  right.showActiveCell();
}

}  // namespace dupsweep::viewer
