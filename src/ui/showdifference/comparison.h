#pragma once
// The viewer's work over its two grids, apart from any widget: writing two units' rows into them,
// and finding, listing, marking and showing differing cells, all through SheetControl. A row goes
// to the grid row its nRow gives; column k (k >= 5) to grid column k - 4; the first five never.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/db.h"
#include <functional>

#include "ui/showdifference/sheetcontrol.h"

namespace dupsweep::viewer {

// Red, as a window-system colour value.
inline constexpr std::uint32_t kMarkColor = 255;

enum Side : std::size_t { kLeft = 0, kRight = 1 };
using Grids = std::array<SheetControl*, 2>;

// Every non-NULL figure of S into `left`, of D into `right` (db::displayText at nRow), nothing
// cleared first; requires both on their first row, leaves them at their ends. Raises the grids'
// failures, DatabaseError (no nRow, a column D lacks), sheet::RangeError; written rows stay.
void fillBooks(db::RowSet& S, db::RowSet& D, SheetControl& left, SheetControl& right);

struct DifferenceLine {
  int number = 0;  // running number within one sheet's scan, from 1
  std::u16string sheetName;
  int row = 0;
  int col = 0;
  std::u16string leftText;
  std::u16string rightText;
  int sheet = 0;  // the left grid's current sheet during the scan
};

// Takes the lines a scan finds, in order.
class DifferenceSink {
 public:
  virtual ~DifferenceSink() = default;
  virtual void addDifference(const DifferenceLine& line) = 0;
};

// Scans the sheets the grids show, within the left grid's bounds, row by row; each cell whose
// UTF-16 texts differ goes to `sink` (numbered from 1) and is marked. Only cells with text are
// visited (textCells). A failure ends the scan; lines handed over stay.
// `explained`, when given, names cells (sheet, row, col) whose differing texts a finding explains
// (a rescaled copy's figures): they are neither listed nor marked.
using ExplainedCell = std::function<bool(int sheet, int row, int col)>;
void findSheetDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink,
                          const ExplainedCell& explained = {});

// Sheets 1..NumSheets of the left grid in turn, then both grids back on sheet 1. A failure ends
// the scan where it happens.
void findAllDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink,
                        const ExplainedCell& explained = {});

// Makes (row, col) active in both grids and gives both the left cell's format, kMarkColor and
// bold. A failure ends the marking where it happens.
void markCell(SheetControl& left, SheetControl& right, int row, int col);

// Both grids on `sheet`, (row, col) active, the left grid focused, both scrolled to the cell.
void showDifference(SheetControl& left, SheetControl& right, int sheet, int row, int col);

}  // namespace dupsweep::viewer
