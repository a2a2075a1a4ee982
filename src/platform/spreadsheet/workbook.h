#pragma once
// The workbook model of the spreadsheet control: numbered sheets of cells with text and a format,
// merged ranges, column widths and row heights, the used range and the active cell. It needs no
// widget; the grid widget draws it and the file reader fills it.
//
// Storage: per sheet a vector of rows, each a vector of cells indexed by column, so entering a
// value is amortised O(1) and rows come out in order. A cell holds its text and a four-byte index
// into the workbook's FormatTable; formats are never copied per cell. Beside the rows the sheet
// keeps the numbers of the rows that have cells, so that walking its cells costs what it holds,
// not its extent (one cell at the last row leaves a million rows without cells before it).

#include <compare>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/spreadsheet/format.h"

namespace dupsweep::sheet {

// The largest row and column numbers a sheet holds (those of the xlsx format).
inline constexpr int kMaxRows = 1048576;
inline constexpr int kMaxCols = 16384;

// A sheet, row or column number outside the workbook.
class RangeError : public Error {
 public:
  using Error::Error;
};

// Throws RangeError unless 1 <= row <= kMaxRows.
void checkRow(int row);
// Throws RangeError unless 1 <= col <= kMaxCols.
void checkCol(int col);

// A rectangle of cells, 1-based and inclusive.
struct CellRange {
  int firstRow = 1;
  int firstCol = 1;
  int lastRow = 1;
  int lastCol = 1;
  bool contains(int row, int col) const noexcept {
    return row >= firstRow && row <= lastRow && col >= firstCol && col <= lastCol;
  }
  bool operator==(const CellRange&) const = default;
};

// A cell's position, 1-based; positions order row by row and, within a row, left to right.
struct CellPosition {
  int row = 1;
  int col = 1;
  auto operator<=>(const CellPosition&) const = default;
};

struct Cell {
  std::string text;
  FormatId format = 0;
};

class Worksheet {
 public:
  // Width of a column and height of a row that no file or call has set, in points.
  static constexpr double kDefaultColumnWidth = 48.0;  // 64 pixels at 96 dpi
  static constexpr double kDefaultRowHeight = 15.0;    // 20 pixels at 96 dpi

  explicit Worksheet(std::string name) : name_(std::move(name)) {}

  const std::string& name() const noexcept { return name_; }
  void setName(std::string name) { name_ = std::move(name); }

  // The text of cell (row, col); empty when the cell holds none. Any position may be asked,
  // one outside the sheet reads as empty. The view is valid until the sheet next changes.
  std::string_view text(int row, int col) const noexcept;

  // The format of cell (row, col); 0 (the default format) when none was set.
  FormatId format(int row, int col) const noexcept;

  // Stores `text` into cell (row, col); empty text clears the text and keeps the format.
  // Requires a valid position (see checkRow/checkCol); positions are not checked here.
  void setText(int row, int col, std::string_view text);

  // Sets the format of cell (row, col). Requires a valid position, as setText().
  void setFormat(int row, int col, FormatId format);

  // Last row and last column holding text (the used range); 0 when no cell holds text.
  int lastRow() const;
  int lastCol() const;

  // Rows and columns that hold anything, text or a format or part of a merged range: the extent
  // a grid must show. 0 for an empty sheet.
  int extentRows() const noexcept;
  int extentCols() const noexcept;

  // The stored cells of `row` from column 1 on (possibly shorter than lastCol()); empty when the
  // row holds nothing.
  std::span<const Cell> row(int row) const noexcept;
  // Number of rows that have storage (rows after it hold nothing).
  int storedRows() const noexcept { return static_cast<int>(rows_.size()); }

  // The cells of rows 1..lastRow that hold text (a non-empty text: a cell with only a format holds
  // none), row by row and left to right. Costs time in proportion to the cells stored in those
  // rows, whatever the sheet's extent.
  std::vector<CellPosition> textCells(int lastRow) const;

  // Merged ranges in the order they were added.
  const std::vector<CellRange>& merges() const noexcept { return merges_; }
  // Adds a merged range. Requires a valid range (first <= last, within the sheet).
  void addMerge(const CellRange& range);
  // The merged range that holds (row, col), or nullptr.
  const CellRange* mergeAt(int row, int col) const noexcept;

  // Column width and row height in points; 0 for a hidden column or row; the defaults above when
  // none was set.
  double columnWidth(int col) const noexcept;
  double rowHeight(int row) const noexcept;
  bool hasColumnWidth(int col) const noexcept;
  bool hasRowHeight(int row) const noexcept;
  // Set a width or height in points (0 hides). Require a valid column or row.
  void setColumnWidth(int col, double points);
  void setRowHeight(int row, double points);

  // The active cell of this sheet, (1, 1) at first.
  int activeRow() const noexcept { return activeRow_; }
  int activeCol() const noexcept { return activeCol_; }
  // Requires a valid position.
  void setActiveCell(int row, int col) noexcept {
    activeRow_ = row;
    activeCol_ = col;
  }

  // Replaces the format of every cell through `map` (old index -> new index; indexes beyond the
  // map become 0). Used when a reader renumbers formats.
  void remapFormats(const std::vector<FormatId>& map);

 private:
  Cell& cellAt(int row, int col);
  void recomputeBounds() const;
  // The numbers of the rows that have cells, ascending.
  const std::vector<int>& rowsWithCells() const;

  std::string name_;
  std::vector<std::vector<Cell>> rows_;  // rows_[row - 1][col - 1]
  int extentCols_ = 0;                   // widest row's storage or merge
  int mergeRows_ = 0;                    // last row of any merged range
  mutable int lastRow_ = 0;
  mutable int lastCol_ = 0;
  mutable bool boundsStale_ = false;  // text was cleared at the edge of the used range
  // Each row that has cells, once, in the order the rows got them; sorted when walked. Rows never
  // lose their cells, so the list only grows.
  mutable std::vector<int> rowsWithCells_;
  mutable bool rowsWithCellsSorted_ = true;
  std::vector<CellRange> merges_;
  std::vector<double> columnWidths_;  // points; < 0 where unset
  std::vector<double> rowHeights_;
  int activeRow_ = 1;
  int activeCol_ = 1;
};

class Workbook {
 public:
  // A workbook of one empty sheet named "Sheet1", as a new control shows.
  Workbook();
  // A workbook without sheets, for a reader to fill.
  static Workbook withoutSheets();

  Workbook(Workbook&&) noexcept = default;
  Workbook& operator=(Workbook&&) noexcept = default;
  // A workbook of its own with the same sheets, formats and current sheet. (No copy constructor,
  // so that a workbook is never copied without saying so.)
  Workbook copy() const;

  int sheetCount() const noexcept { return static_cast<int>(sheets_.size()); }

  // Sheet `number`, counted from 1. Throws RangeError outside 1..sheetCount().
  Worksheet& sheet(int number);
  const Worksheet& sheet(int number) const;

  // Appends a sheet and returns it; its number is the new sheetCount(). The reference stays valid
  // as long as the workbook.
  Worksheet& addSheet(std::string name);

  FormatTable& formats() noexcept { return formats_; }
  const FormatTable& formats() const noexcept { return formats_; }

  // The current sheet's number (1 for a new workbook; 0 only while a reader has added no sheet).
  int currentSheet() const noexcept { return current_; }
  // Throws RangeError outside 1..sheetCount().
  void setCurrentSheet(int number);
  // The current sheet. Requires sheetCount() > 0.
  Worksheet& current() { return *sheets_[current_ - 1]; }
  const Worksheet& current() const { return *sheets_[current_ - 1]; }

 private:
  struct NoSheets {};
  explicit Workbook(NoSheets) {}

  std::vector<std::unique_ptr<Worksheet>> sheets_;
  FormatTable formats_;
  int current_ = 0;
};

}  // namespace dupsweep::sheet
