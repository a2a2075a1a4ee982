#include "platform/spreadsheet/workbook.h"

#include <algorithm>

namespace dupsweep::sheet {

void checkRow(int row) {
  if (row < 1 || row > kMaxRows) {
    throw RangeError("Row " + std::to_string(row) + " is outside the sheet (1 to " +
                     std::to_string(kMaxRows) + ")");
  }
}

void checkCol(int col) {
  if (col < 1 || col > kMaxCols) {
    throw RangeError("Column " + std::to_string(col) + " is outside the sheet (1 to " +
                     std::to_string(kMaxCols) + ")");
  }
}

// ---- Worksheet --------------------------------------------------------------------------------

std::string_view Worksheet::text(int row, int col) const noexcept {
  if (row < 1 || col < 1 || row > static_cast<int>(rows_.size())) return {};
  const auto& cells = rows_[row - 1];
  if (col > static_cast<int>(cells.size())) return {};
  return cells[col - 1].text;
}

FormatId Worksheet::format(int row, int col) const noexcept {
  if (row < 1 || col < 1 || row > static_cast<int>(rows_.size())) return 0;
  const auto& cells = rows_[row - 1];
  if (col > static_cast<int>(cells.size())) return 0;
  return cells[col - 1].format;
}

std::span<const Cell> Worksheet::row(int row) const noexcept {
  if (row < 1 || row > static_cast<int>(rows_.size())) return {};
  return rows_[row - 1];
}

Cell& Worksheet::cellAt(int row, int col) {
  if (row > static_cast<int>(rows_.size())) rows_.resize(row);
  auto& cells = rows_[row - 1];
  if (col > static_cast<int>(cells.size())) {
    if (cells.empty()) {
      if (!rowsWithCells_.empty() && row < rowsWithCells_.back()) rowsWithCellsSorted_ = false;
      rowsWithCells_.push_back(row);
    }
    cells.resize(col);
    extentCols_ = std::max(extentCols_, col);
  }
  return cells[col - 1];
}

const std::vector<int>& Worksheet::rowsWithCells() const {
  if (!rowsWithCellsSorted_) {
    std::sort(rowsWithCells_.begin(), rowsWithCells_.end());
    rowsWithCellsSorted_ = true;
  }
  return rowsWithCells_;
}

std::vector<CellPosition> Worksheet::textCells(int lastRow) const {
  std::vector<CellPosition> out;
  for (const int row : rowsWithCells()) {
    if (row > lastRow) break;
    const auto& cells = rows_[row - 1];
    for (std::size_t col = 0; col < cells.size(); ++col) {
      if (!cells[col].text.empty()) out.push_back({row, static_cast<int>(col) + 1});
    }
  }
  return out;
}

void Worksheet::setText(int row, int col, std::string_view text) {
  if (text.empty()) {
    // Clearing creates no storage; it only matters where the cell held text.
    if (row > static_cast<int>(rows_.size())) return;
    auto& cells = rows_[row - 1];
    if (col > static_cast<int>(cells.size()) || cells[col - 1].text.empty()) return;
    cells[col - 1].text.clear();
    if (row == lastRow_ || col == lastCol_) boundsStale_ = true;
    return;
  }
  cellAt(row, col).text.assign(text);
  if (!boundsStale_) {
    lastRow_ = std::max(lastRow_, row);
    lastCol_ = std::max(lastCol_, col);
  }
}

void Worksheet::setFormat(int row, int col, FormatId format) {
  if (format == 0 && this->format(row, col) == 0) return;  // nothing to store
  cellAt(row, col).format = format;
}

void Worksheet::recomputeBounds() const {
  lastRow_ = 0;
  lastCol_ = 0;
  for (int r = static_cast<int>(rows_.size()); r >= 1; --r) {
    const auto& cells = rows_[r - 1];
    for (int c = static_cast<int>(cells.size()); c > lastCol_; --c) {
      if (!cells[c - 1].text.empty()) {
        lastCol_ = c;
        if (lastRow_ == 0) lastRow_ = r;
        break;
      }
    }
  }
  boundsStale_ = false;
}

int Worksheet::lastRow() const {
  if (boundsStale_) recomputeBounds();
  return lastRow_;
}

int Worksheet::lastCol() const {
  if (boundsStale_) recomputeBounds();
  return lastCol_;
}

int Worksheet::extentRows() const noexcept {
  return std::max(static_cast<int>(rows_.size()), mergeRows_);
}

int Worksheet::extentCols() const noexcept {
  return extentCols_;
}

void Worksheet::addMerge(const CellRange& range) {
  merges_.push_back(range);
  mergeRows_ = std::max(mergeRows_, range.lastRow);
  extentCols_ = std::max(extentCols_, range.lastCol);
}

const CellRange* Worksheet::mergeAt(int row, int col) const noexcept {
  for (const auto& range : merges_) {
    if (range.contains(row, col)) return &range;
  }
  return nullptr;
}

double Worksheet::columnWidth(int col) const noexcept {
  return hasColumnWidth(col) ? columnWidths_[col - 1] : kDefaultColumnWidth;
}

double Worksheet::rowHeight(int row) const noexcept {
  return hasRowHeight(row) ? rowHeights_[row - 1] : kDefaultRowHeight;
}

bool Worksheet::hasColumnWidth(int col) const noexcept {
  return col >= 1 && col <= static_cast<int>(columnWidths_.size()) && columnWidths_[col - 1] >= 0;
}

bool Worksheet::hasRowHeight(int row) const noexcept {
  return row >= 1 && row <= static_cast<int>(rowHeights_.size()) && rowHeights_[row - 1] >= 0;
}

void Worksheet::setColumnWidth(int col, double points) {
  if (col > static_cast<int>(columnWidths_.size())) columnWidths_.resize(col, -1.0);
  columnWidths_[col - 1] = std::max(0.0, points);
}

void Worksheet::setRowHeight(int row, double points) {
  if (row > static_cast<int>(rowHeights_.size())) rowHeights_.resize(row, -1.0);
  rowHeights_[row - 1] = std::max(0.0, points);
}

void Worksheet::remapFormats(const std::vector<FormatId>& map) {
  for (auto& cells : rows_) {
    for (auto& cell : cells) {
      cell.format = cell.format < map.size() ? map[cell.format] : 0;
    }
  }
}

// ---- Workbook ---------------------------------------------------------------------------------

Workbook::Workbook() {
  addSheet("Sheet1");
}

Workbook Workbook::copy() const {
  Workbook other{NoSheets{}};
  other.sheets_.reserve(sheets_.size());
  for (const auto& sheet : sheets_) other.sheets_.push_back(std::make_unique<Worksheet>(*sheet));
  other.formats_ = formats_;
  other.current_ = current_;
  return other;
}

Workbook Workbook::withoutSheets() {
  return Workbook(NoSheets{});
}

Worksheet& Workbook::sheet(int number) {
  return const_cast<Worksheet&>(static_cast<const Workbook&>(*this).sheet(number));
}

const Worksheet& Workbook::sheet(int number) const {
  if (number < 1 || number > sheetCount()) {
    throw RangeError("Sheet " + std::to_string(number) + " does not exist (the workbook has " +
                     std::to_string(sheetCount()) + " sheets)");
  }
  return *sheets_[number - 1];
}

Worksheet& Workbook::addSheet(std::string name) {
  sheets_.push_back(std::make_unique<Worksheet>(std::move(name)));
  if (current_ == 0) current_ = 1;
  return *sheets_.back();
}

void Workbook::setCurrentSheet(int number) {
  sheet(number);  // range check
  current_ = number;
}

}  // namespace dupsweep::sheet
