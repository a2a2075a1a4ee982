#pragma once
// Writing what the viewer shows into an xlsx workbook, apart from any widget.
//
// The workbook holds, in this order:
// - "差异清单": one line per difference, in list order, with the columns 序号 (the line's number in
//   its sheet's scan, as the list shows it), 表, 行, 列, 左边值, 右边值, 单位对 (the pair's
//   caption) and 期间 (the period), below one header row; 序号, 行 and 列 are number cells. A list
//   longer than a sheet goes on in "差异清单 (2)"... below the header row again.
// - One sheet per sheet of the left workbook, named as that sheet: the left unit's cells and the
//   right unit's cells of that sheet side by side. Row 1 holds the two units' captions; the cell
//   at grid row r and column c of the left grid is at row r + 1, column c; that of the right grid
//   at row r + 1, column c + W + 1, where W is the wider of the two sheets' last columns, so one
//   empty column stands between the two copies. Both copies of a listed cell are red. Column
//   widths follow the left sheet's.

#include <string>
#include <vector>

#include "platform/spreadsheet/workbook.h"
#include "ui/showdifference/comparison.h"

namespace dupsweep::viewer {

struct ExportCaptions {
  std::string pair;    // the pair's caption (the viewer's pair name)
  std::string period;  // the period the pair was compared in
  std::string left;    // the left unit's caption
  std::string right;   // the right unit's caption
};

// Writes the workbook described above to `path` (UTF-8). `left` and `right` are the two grids'
// workbooks, `lines` the difference list. A sheet that the right workbook lacks has its left copy
// only. Raises FileError "Unable to write to <path>: <reason>" when the file cannot be written;
// an existing file at `path` then keeps its content.
void exportDifferences(const std::string& path, const sheet::Workbook& left,
                       const sheet::Workbook& right, const std::vector<DifferenceLine>& lines,
                       const ExportCaptions& captions);

// Character units of an xlsx column as wide as `points` (Excel's default font: 7 pixels a
// character and 5 pixels of padding, at 96 pixels an inch).
double xlsxColumnWidth(double points);

}  // namespace dupsweep::viewer
