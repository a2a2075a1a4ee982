#pragma once
// The difference viewer's work over its two grids, apart from any widget: writing two units'
// rows of one sheet into the left and right grid, deciding whether the two units' rows are
// identical, and finding, listing, marking and showing the cells whose texts differ. Everything
// here speaks to the grids only through SheetControl, so it runs over our control and, in tests,
// over a control that fails on purpose.
//
// Cell mapping: a row set's row goes to the grid row given by its nRow column; its column with
// index k (counted from 0, k >= 5) goes to grid column k - 4 of the grid's current sheet. The
// first five columns (indexes 0 to 4) are neither written nor compared.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/db/db.h"
#include "ui/showdifference/sheetcontrol.h"

namespace dupsweep::viewer {

// Index of the first figure column of a data row set, and what is subtracted from a column
// index to give the grid column.
inline constexpr int kFirstFigureColumn = 5;
inline constexpr int kColumnOffset = 4;

// The colour a differing cell is marked with: red, as a window-system colour value.
inline constexpr std::uint32_t kMarkColor = 255;

// The two grids of the viewer, indexed by side.
enum Side : std::size_t { kLeft = 0, kRight = 1 };
using Grids = std::array<SheetControl*, 2>;

// Writes the rows of S into `left` and those of D into `right`, on each grid's current sheet:
// every non-NULL value of a figure column (index >= 5, as many as S has columns), as
// db::displayText gives it (the same conversion for both units), with EntryRC at the row's nRow.
// NULL values are not written, and no cell is cleared first, so a cell no value reaches keeps
// what it held. The longer row set is written to its end after the shorter one has ended.
// Requires both row sets on their first row; leaves both at their ends. Raises the grids'
// failures, and DatabaseError for a missing nRow column or a column that D lacks; the rows written
// before stay written. An nRow that is no row of a sheet raises sheet::RangeError.
void fillBooks(db::RowSet& S, db::RowSet& D, SheetControl& left, SheetControl& right);

// Values that fillBooks would write, kept typed until somebody looks at the grids. Turning every
// value of every pair into text costs as much as reading the rows, while during a comparison run
// nobody sees the hidden grids: only the state they end in can be observed. A later value for the
// same cell replaces an earlier one, so entering what is kept gives the grids exactly the content
// that writing every value in turn would have given.
//
// The newest rows of each side and sheet are kept as they came (taken over, not copied). When the
// next rows of that sheet have the same row numbers, as a run's pairs of the same sheets do, they
// replace the kept rows, and of these only the values under their NULL figures (which they do
// not write) are kept. Rows with other row numbers fold what is kept into values per cell.
class PendingFills {
 public:
  // Keeps the rows of S for `left` and those of D for `right`, on each grid's current sheet, as
  // fillBooks writes them, and fails where fillBooks would (a missing nRow or column, a row or
  // column outside a sheet, text that is not UTF-8); what was kept before a failure stays kept.
  // Rows that write without failing are taken over, leaving both row sets empty; others are kept
  // value by value. Requires both row sets on their first row; leaves both at their ends.
  void fill(db::RowSet& S, db::RowSet& D, const SheetControl& left, const SheetControl& right);
  bool empty() const noexcept { return sheets_[kLeft].empty() && sheets_[kRight].empty(); }
  // Enters every kept value into its grid and sheet, as fillBooks would have, and forgets them.
  // Each grid's current sheet is the same afterwards.
  void enterInto(SheetControl& left, SheetControl& right);
  // Forgets every kept value.
  void clear() noexcept {
    sheets_[kLeft].clear();
    sheets_[kRight].clear();
  }

 private:
  // The cells one unit's rows write: per row its grid row (0 for a row that writes nothing), the
  // figure columns fillBooks visits, its NULL figures as bits (bit c % 64 of word
  // row * words + c / 64 for column c), and whether no two rows go to the same grid row.
  struct Shape {
    std::vector<int> gridRows;
    int columns = 0;
    std::vector<std::uint64_t> nullBits;
    bool distinctRows = true;
    std::size_t words() const noexcept { return (static_cast<std::size_t>(columns) + 63) / 64; }
    bool isNull(std::size_t row, std::size_t column) const noexcept {
      return (nullBits[row * words() + column / 64] >> (column % 64)) & 1U;
    }
  };
  struct Shapes {
    int sheet[2] = {0, 0};
    Shape shape[2];
  };

  // What fill would write of S and D, on the grids' current sheets: checked, and the cells each
  // writes; nullopt when fillBooks would fail on them (fill then fails as it would).
  static std::optional<Shapes> shapesOf(const db::RowSet& S, const db::RowSet& D,
                                        const SheetControl& left, const SheetControl& right);
  // Keeps rows shapesOf found sound, taking S and D over.
  void take(Shapes shapes, db::RowSet&& S, db::RowSet&& D);
  // Keeps the values fillBooks would write one by one, failing where it would.
  void copyValues(db::RowSet& S, db::RowSet& D, const SheetControl& left,
                  const SheetControl& right);

  // Per grid row, the values by grid column (index col - 1); NULL where nothing was written.
  using Rows = std::unordered_map<int, std::vector<db::Value>>;
  struct Layer {
    std::unique_ptr<db::RowSet> rows;
    Shape shape;
  };
  // Values of earlier rows under the NULL figures of the newest ones: value i (row i of
  // `values`, kept compactly as a row set keeps them) lies at positions[i], row * columns +
  // column of the newest rows; each position once.
  struct Under {
    std::vector<std::size_t> positions;
    db::RowSet values{std::vector<std::string>{"value"}};
  };
  // One side of one sheet, in the order entering gives them: values folded per cell; what lies
  // under the NULL figures of `latest`; the newest rows, whole.
  struct SheetFills {
    Rows folded;
    Under under;
    std::optional<Layer> latest;
  };
  // Folds `under` and `latest` into `folded`.
  static void fold(SheetFills& fills);
  // Calls write(gridRow, gridCol, value) for what `under` and `latest` write, in order.
  template <class Write>
  static void forEachKept(const SheetFills& fills, Write&& write);
  std::array<std::map<int, SheetFills>, 2> sheets_;  // per side: sheet index -> its fills
};

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
