#include "engine/compare.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "platform/errors.h"
#include "platform/text/text.h"

namespace dupsweep {

bool SameRows(db::RowSet& s, db::RowSet& d) {
  if (s.rowCount() != d.rowCount()) return false;
  s.first();
  d.first();
  bool same = s.rowCount() > 0;
  const int columns = s.columnCount();
  // Both row sets come from the same table; a shorter D row is a difference, never a crash.
  const int shared = std::min(columns, d.columnCount());
  if (columns > kFirstFigureColumn && shared < columns) same = false;
  // Comparing neither changes nor fails: after a difference the cursors walk on to their ends
  // without comparing.
  for (; !s.eof(); s.next(), d.next())
    if (same && !s.sameValues(s.row(), d, d.row(), kFirstFigureColumn, shared)) same = false;
  return same;
}

bool StillIdentical(TdmDupsweep& dataModule, const std::string& table, const std::string& unitCode,
                    const std::string& otherCode, const std::string& period) {
  if (otherCode.empty()) return false;
  const std::unique_ptr<db::RowSet> mine = dataModule.OpenUnitData(table, unitCode, period);
  const std::unique_ptr<db::RowSet> others = dataModule.OpenUnitData(table, otherCode, period);
  return mine && others && SameRows(*mine, *others);  // no rows on either side is no copy
}

int DifferingCells(const db::RowSet& s, const db::RowSet& d, int limit) {
  int differing = 0;
  const int columns = s.columnCount();
  for (int r = 0; r < s.rowCount() && r < d.rowCount(); ++r)
    for (int k = kFirstFigureColumn; k < columns; ++k) {
      if (k >= d.columnCount() || !db::sameValue(s.view(r, k), d.view(r, k))) ++differing;
      if (differing > limit) return differing;
    }
  return differing;
}

int gridRowOf(const db::RowSet& rows) {
  const std::int64_t nRow = rows.field("nRow").asInteger();
  if (nRow < 1 || nRow > sheet::kMaxRows)
    throw sheet::RangeError("The row number " + std::to_string(nRow) +
                            " in nRow is not a row of the sheet");
  return static_cast<int>(nRow);
}

namespace {

// Every other kind becomes a text made here, which is UTF-8.
bool keepsItsBytes(db::ValueKind kind) noexcept {
  return kind == db::ValueKind::Text || kind == db::ValueKind::Decimal ||
         kind == db::ValueKind::DateTime;
}

// Raises what a grid raises for a cell entered with `value`'s text (after the cell's position).
void checkEntry(int row, int col, const db::CellView& value) {
  sheet::checkRow(row);
  sheet::checkCol(col);
  if (!keepsItsBytes(value.kind) || text::isValidUtf8(value.bytes)) return;
  text::utf8ToUtf16(value.bytes);  // raises FormatError naming the offset of the bad byte
  throw FormatError("Invalid UTF-8 text");
}

// The first `columns` columns of a result of `available` columns lie in the grids.
bool columnsFit(int available, int columns) noexcept {
  return available >= columns && columns - 1 - kGridColumnOffset <= sheet::kMaxCols;
}

bool nRowFits(const db::CellView& nRow) noexcept {
  return nRow.kind == db::ValueKind::Integer && nRow.integer >= 1 &&
         nRow.integer <= sheet::kMaxRows;
}

// True when writing the rows surely raises nothing (every column, integer nRow within the sheet,
// valid UTF-8); false means the walk must decide. With text masks only texts are looked at:
// backends make decimals and dates of ASCII.
bool surelyFits(const db::RowSet& rows, int columns) {
  if (rows.rowCount() == 0 || columns <= kFirstFigureColumn) return true;
  if (!columnsFit(rows.columnCount(), columns)) return false;
  const int nRowColumn = rows.findColumn("nRow");
  if (nRowColumn < 0) return false;
  const bool masked = rows.hasMasks();
  std::uint64_t figures = ~((std::uint64_t{1} << kFirstFigureColumn) - 1);
  if (columns < 64) figures &= (std::uint64_t{1} << columns) - 1;
  for (int r = 0; r < rows.rowCount(); ++r) {
    if (!nRowFits(rows.view(r, nRowColumn))) return false;
    if (masked) {
      for (std::uint64_t texts = rows.textMask(r) & figures; texts != 0; texts &= texts - 1)
        if (!text::isValidUtf8(rows.view(r, std::countr_zero(texts)).bytes)) return false;
      continue;
    }
    for (int k = kFirstFigureColumn; k < columns; ++k) {
      const db::CellView value = rows.view(r, k);
      if (keepsItsBytes(value.kind) && !text::isValidUtf8(value.bytes)) return false;
    }
  }
  return true;
}

// S's rows as they stream past D's kept rows: SameRows' verdict, and whether every row of S
// surely fits the grids by surelyFits' rule, keeping none of them.
class RowsAgainst final : public db::RowSink {
 public:
  explicit RowsAgainst(const db::RowSet& d) : d_(d) {}

  void columns(const std::vector<std::string>& names) override {
    columns_ = static_cast<int>(names.size());
    shared_ = std::min(columns_, d_.columnCount());
    if (columns_ > kFirstFigureColumn && shared_ < columns_) same_ = false;
    nRowColumn_ = db::RowSet(names).findColumn("nRow");
    fits_ = columns_ <= kFirstFigureColumn || (columnsFit(columns_, columns_) && nRowColumn_ >= 0);
  }
  void row(const std::vector<db::Value>& values) override {
    std::vector<db::CellView> views;
    views.reserve(values.size());
    for (const db::Value& value : values) views.push_back(db::viewOf(value));
    cells(views);
  }
  void cells(const std::vector<db::CellView>& row) override {
    if (same_) same_ = rows_ < d_.rowCount() && sameFigures(row);
    if (fits_ && columns_ > kFirstFigureColumn) fits_ = fits(row);
    ++rows_;
  }

  int columnCount() const noexcept { return columns_; }
  bool same() const noexcept { return same_ && rows_ == d_.rowCount() && rows_ > 0; }
  bool surelyFits() const noexcept { return fits_ || rows_ == 0; }

 private:
  bool sameFigures(const std::vector<db::CellView>& row) const {
    for (int k = kFirstFigureColumn; k < shared_; ++k)
      if (!db::sameValue(row[static_cast<std::size_t>(k)], d_.view(rows_, k))) return false;
    return true;
  }
  bool fits(const std::vector<db::CellView>& row) const {
    if (!nRowFits(row[static_cast<std::size_t>(nRowColumn_)])) return false;
    for (int k = kFirstFigureColumn; k < columns_; ++k) {
      const db::CellView& value = row[static_cast<std::size_t>(k)];
      if (keepsItsBytes(value.kind) && !text::isValidUtf8(value.bytes)) return false;
    }
    return true;
  }

  const db::RowSet& d_;
  int columns_ = 0;  // S's, over which both are compared and written
  int shared_ = 0;
  int nRowColumn_ = -1;
  int rows_ = 0;
  bool same_ = true;
  bool fits_ = false;
};

}  // namespace

std::optional<bool> SameRowsStreamed(TdmDupsweep& dataModule, const std::string& table,
                                     const std::string& unitS, const std::string& unitD,
                                     const std::string& period, bool checkGrids) {
  // D's rows are read first, as every comparison reads them.
  const std::unique_ptr<db::RowSet> d = dataModule.OpenUnitData(table, unitD, period);
  if (!d) return std::nullopt;
  RowsAgainst s(*d);
  if (!dataModule.StreamUnitData(table, unitS, period, s)) return std::nullopt;
  if (checkGrids && !(s.surelyFits() && surelyFits(*d, s.columnCount()))) {
    // The walk decides, over both units' rows.
    const std::unique_ptr<db::RowSet> again = dataModule.OpenUnitData(table, unitS, period);
    if (!again) return std::nullopt;
    GridFit::checkRows(*again, *d);
  }
  return s.same();
}

void GridFit::checkSheet(std::int32_t sheetOrder) const {
  // The grids are asked for sheet index sheetOrder - 1, counted in 32 bits, plus one.
  if (sheetOrder == std::numeric_limits<std::int32_t>::min())
    throw sheet::RangeError("Sheet index " +
                            std::to_string(std::numeric_limits<std::int32_t>::max()) +
                            " is out of range");
  book_.sheet(sheetOrder);  // raises RangeError for a sheet the template does not have
}

void GridFit::checkRows(db::RowSet& S, db::RowSet& D) {
  const int columns = S.columnCount();
  if (surelyFits(S, columns) && surelyFits(D, columns)) return;
  S.first();
  D.first();
  forEachFigure(
      S, D, [](Side, int row, int col, const db::CellView& value) { checkEntry(row, col, value); });
}

}  // namespace dupsweep
