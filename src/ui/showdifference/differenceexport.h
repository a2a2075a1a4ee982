#pragma once
// Writes what the viewer shows into an xlsx workbook: "差异清单" (one line per difference, columns
// 序号, 表, 行, 列, 左边值, 右边值, 单位对, 期间; going on in "差异清单 (2)"...), then per sheet of
// the left workbook both units' cells side by side, one empty column apart, listed cells in red.

#include <string>
#include <vector>

#include "platform/spreadsheet/workbook.h"
#include "ui/showdifference/comparison.h"

namespace dupsweep::viewer {

struct ExportCaptions {
  std::string pair;    // the viewer's pair name
  std::string period;  // the period the pair was compared in
  std::string left;
  std::string right;
};

// A sheet the right workbook lacks has its left copy only. Raises FileError "Unable to write to
// <path>: <reason>"; an existing file at `path` then keeps its content.
void exportDifferences(const std::string& path, const sheet::Workbook& left,
                       const sheet::Workbook& right, const std::vector<DifferenceLine>& lines,
                       const ExportCaptions& captions);

// Character units of an xlsx column `points` wide (Excel's default font at 96 pixels an inch).
double xlsxColumnWidth(double points);

}  // namespace dupsweep::viewer
