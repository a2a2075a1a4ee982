#pragma once
// The difference viewer's work over its two grids, apart from any widget: writing two units'
// rows of one sheet into the left and right grid, and finding, listing, marking and showing the
// cells whose texts differ. Everything
// here speaks to the grids only through SheetControl, so it runs over our control and, in tests,
// over a control that fails on purpose.
//
// Cell mapping (forEachFigure of the comparison engine): a row set's row goes to the grid row
// given by its nRow column; its column with index k (counted from 0, k >= 5) goes to grid column
// k - 4 of the grid's current sheet. The first five columns are neither written nor compared.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/db.h"
#include "ui/showdifference/sheetcontrol.h"

namespace dupsweep::viewer {

// The colour a differing cell is marked with: red, as a window-system colour value.
inline constexpr std::uint32_t kMarkColor = 255;

// The two grids of the viewer, indexed by side.
enum Side : std::size_t { kLeft = 0, kRight = 1 };
using Grids = std::array<SheetControl*, 2>;

// Writes the rows of S into `left` and those of D into `right`, on each grid's current sheet:
// every non-NULL figure, as db::displayText gives it (the same conversion for both units), with
// EntryRC at the row's nRow, in the order forEachFigure walks them. NULL values are not written,
// and no cell is cleared first, so a cell no value reaches keeps what it held. Requires both row
// sets on their first row; leaves both at their ends. Raises the grids' failures, and
// DatabaseError for a missing nRow column or a column that D lacks; the rows written before stay
// written. An nRow that is no row of a sheet raises sheet::RangeError.
void fillBooks(db::RowSet& S, db::RowSet& D, SheetControl& left, SheetControl& right);

// One differing cell as the difference list shows it.
struct DifferenceLine {
  int number = 0;  // running number within one sheet's scan, from 1
  std::u16string sheetName;
  int row = 0;
  int col = 0;
  std::u16string leftText;
  std::u16string rightText;
  int sheet = 0;  // the left grid's current sheet during the scan
};

// Where a scan puts the lines it finds, in the order found.
class DifferenceSink {
 public:
  virtual ~DifferenceSink() = default;
  virtual void addDifference(const DifferenceLine& line) = 0;
};

// Scans the sheet each grid currently shows, within the left grid's bounds (LastRow once, LastCol
// afresh for every row visited), row by row and left to right. Each cell whose two texts differ as
// UTF-16 code units is handed to `sink` and then marked (markCell). The running number starts at
// 1. Only cells that hold text in either grid are visited (SheetControl::textCells), which gives
// the lines of a visit of every cell, in the same order, in time proportional to the cells the
// two sheets hold. A failure of a grid or of the sink ends the scan; the lines handed over before
// stay.
void findSheetDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink);

// findSheetDifferences on sheet 1 to the left grid's NumSheets (each sheet selected in the left
// grid and then the right), then both grids back on sheet 1. A failure ends the scan where it
// happens.
void findAllDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink);

// Makes (row, col) the active cell of both grids and gives both cells the left cell's format
// with its colour set to kMarkColor and its bold attribute set. The format object is released on
// every path; a failure ends the marking where it happens.
void markCell(SheetControl& left, SheetControl& right, int row, int col);

// Brings both grids to `sheet` with (row, col) as active cell, gives the left grid the focus and
// scrolls the cell into view in the left grid and then the right.
void showDifference(SheetControl& left, SheetControl& right, int sheet, int row, int col);

}  // namespace dupsweep::viewer
