#include "ui/showdifference/comparison.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <optional>
#include <variant>
#include <vector>

#include "platform/errors.h"
#include "platform/spreadsheet/workbook.h"
#include "platform/text/text.h"

namespace dupsweep::viewer {
namespace {

// The grid row of the current row of `rows`: its nRow value, which must be a row number.
int gridRowOf(const db::RowSet& rows) {
  const std::int64_t nRow = rows.field("nRow").asInteger();
  if (nRow < 1 || nRow > sheet::kMaxRows)
    throw sheet::RangeError("The row number " + std::to_string(nRow) +
                            " in nRow is not a row of the sheet");
  return static_cast<int>(nRow);
}

// Walks the rows of S and D together as fillBooks writes them: for every non-NULL figure of a
// row, `write(side, gridRow, gridCol, value)`, row by row and, within a row, column by column,
// S before D. The grid row (the row's nRow) is read only once a value of the row is written, so a
// row of NULL figures needs no row number. Leaves both row sets at their ends.
template <class Write>
void forEachFigure(db::RowSet& S, db::RowSet& D, Write&& write) {
  const std::array<db::RowSet*, 2> rows{&S, &D};
  while (!S.eof() || !D.eof()) {
    // Both row sets come from the same data table; S's column count serves for both.
    const int columns = S.columnCount();
    std::array<std::optional<int>, 2> gridRow;
    for (int k = kFirstFigureColumn; k < columns; ++k) {
      for (std::size_t side : {kLeft, kRight}) {
        db::RowSet& unit = *rows[side];
        if (unit.eof()) continue;
        const db::CellView value = unit.field(k).view();
        if (value.kind == db::ValueKind::Null) continue;
        if (!gridRow[side]) gridRow[side] = gridRowOf(unit);
        write(static_cast<Side>(side), *gridRow[side], k - kColumnOffset, value);
      }
    }
    for (db::RowSet* unit : rows) {
      if (!unit->eof()) unit->next();
    }
  }
}

}  // namespace

void fillBooks(db::RowSet& S, db::RowSet& D, SheetControl& left, SheetControl& right) {
  const Grids grids{&left, &right};
  forEachFigure(S, D, [&](Side side, int row, int col, const db::CellView& value) {
    grids[side]->EntryRC(row, col, db::displayText(value));
  });
}

std::optional<PendingFills::Shapes> PendingFills::shapesOf(const db::RowSet& S,
                                                           const db::RowSet& D,
                                                           const SheetControl& left,
                                                           const SheetControl& right) {
  Shapes shapes;
  shapes.sheet[kLeft] = left.Sheet();
  shapes.sheet[kRight] = right.Sheet();
  // Both row sets come from the same data table; S's column count serves for both, as in fill.
  const int columns = S.columnCount();
  if (columns - 1 - kColumnOffset > sheet::kMaxCols) return std::nullopt;
  const std::array<const db::RowSet*, 2> rows{&S, &D};
  for (std::size_t side : {kLeft, kRight}) {
    const db::RowSet& unit = *rows[side];
    Shape& shape = shapes.shape[side];
    shape.columns = columns;
    if (unit.rowCount() > 0 && unit.columnCount() < columns) return std::nullopt;
    const int nRowColumn = unit.findColumn("nRow");
    shape.gridRows.assign(static_cast<std::size_t>(unit.rowCount()), 0);
    const std::size_t words = shape.words();
    shape.nullBits.assign(static_cast<std::size_t>(unit.rowCount()) * words, 0);
    int lastGridRow = 0;
    // Which figures of a row are NULL and which are text: from the masks the row set keeps, or
    // else from the row's kinds.
    const bool masked = unit.hasMasks() && columns > kFirstFigureColumn;
    std::uint64_t figures = ~((std::uint64_t{1} << kFirstFigureColumn) - 1);  // the figure columns
    if (columns < 64) figures &= (std::uint64_t{1} << columns) - 1;
    std::vector<db::ValueKind> kinds(
        static_cast<std::size_t>(std::max(0, columns - kFirstFigureColumn)));
    auto validText = [&unit](int row, int column) {
      return text::isValidUtf8(unit.view(row, column).bytes);
    };
    for (int r = 0; r < unit.rowCount(); ++r) {
      std::uint64_t* nullBits = shape.nullBits.data() + static_cast<std::size_t>(r) * words;
      bool writes = false;
      if (masked) {
        const std::uint64_t nulls = unit.nullMask(r) & figures;
        nullBits[0] = nulls;  // one word: the row set has at most 64 columns
        writes = nulls != figures;
        for (std::uint64_t texts = unit.textMask(r) & figures; texts != 0; texts &= texts - 1) {
          if (!validText(r, std::countr_zero(texts))) return std::nullopt;
        }
      } else {
        if (columns > kFirstFigureColumn) unit.kinds(r, kFirstFigureColumn, columns, kinds.data());
        for (std::size_t i = 0; i < kinds.size(); ++i) {
          const std::size_t column = kFirstFigureColumn + i;
          if (kinds[i] == db::ValueKind::Null) {
            nullBits[column / 64] |= std::uint64_t{1} << (column % 64);
            continue;
          }
          writes = true;
          if (kinds[i] == db::ValueKind::Text && !validText(r, static_cast<int>(column)))
            return std::nullopt;
        }
      }
      if (!writes) continue;
      // Anything but an integer row number is left to fill, which reads it as fillBooks does.
      if (nRowColumn < 0) return std::nullopt;
      const db::CellView nRow = unit.view(r, nRowColumn);
      if (nRow.kind != db::ValueKind::Integer || nRow.integer < 1 || nRow.integer > sheet::kMaxRows)
        return std::nullopt;
      const int gridRow = static_cast<int>(nRow.integer);
      if (gridRow <= lastGridRow) shape.distinctRows = false;
      lastGridRow = gridRow;
      shape.gridRows[static_cast<std::size_t>(r)] = gridRow;
    }
  }
  return shapes;
}

void PendingFills::take(Shapes shapes, db::RowSet&& S, db::RowSet&& D) {
  const std::array<db::RowSet*, 2> rows{&S, &D};
  for (std::size_t side : {kLeft, kRight}) {
    if (rows[side]->rowCount() == 0) continue;  // writes nothing
    SheetFills& fills = sheets_[side][shapes.sheet[side]];
    Layer layer{std::make_unique<db::RowSet>(std::move(*rows[side])),
                std::move(shapes.shape[side])};
    const bool sameRows = fills.latest && layer.shape.distinctRows &&
                          fills.latest->shape.distinctRows &&
                          fills.latest->shape.columns == layer.shape.columns &&
                          fills.latest->shape.gridRows == layer.shape.gridRows;
    if (!sameRows) {
      fold(fills);
      fills.latest = std::move(layer);
      continue;
    }
    // The new rows write every cell the kept ones wrote, except under their NULL figures: there
    // the kept rows' values stay, or, where those were NULL too, what stayed under them.
    const Layer& old = *fills.latest;
    const Shape& shape = layer.shape;
    const auto columns = static_cast<std::size_t>(shape.columns);
    const std::size_t words = shape.words();
    // A row's figures that are NULL in the new rows but not in the kept ones, as bits: the kept
    // values to read there. The kept rows are long out of the processor's caches, so those
    // values are all asked for before any is read, so that their reads overlap.
    auto forEachKeptUnderNull = [&](auto&& visit) {
      for (std::size_t r = 0; r < shape.gridRows.size(); ++r) {
        for (std::size_t w = 0; w < words; ++w) {
          const std::size_t word = r * words + w;
          for (std::uint64_t bits = shape.nullBits[word] & ~old.shape.nullBits[word]; bits != 0;
               bits &= bits - 1)
            visit(r, w * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
        }
      }
    };
    std::size_t reads = 0;
    forEachKeptUnderNull([&](std::size_t row, std::size_t column) {
      old.rows->prefetch(static_cast<int>(row), static_cast<int>(column));
      ++reads;
    });
    Under under;
    const Under& before = fills.under;
    under.positions.reserve(reads + before.positions.size());
    under.values.reserve(reads + before.positions.size(), 0);
    forEachKeptUnderNull([&](std::size_t row, std::size_t column) {
      under.positions.push_back(row * columns + column);
      under.values.appendRow(
          [&](int) { return old.rows->view(static_cast<int>(row), static_cast<int>(column)); });
    });
    // What stayed under the kept rows lies under their NULLs; it stays where the new rows are
    // NULL too.
    for (std::size_t i = 0; i < before.positions.size(); ++i) {
      const std::size_t position = before.positions[i];
      if (!shape.isNull(position / columns, position % columns)) continue;
      under.positions.push_back(position);
      under.values.appendRow([&](int) { return before.values.view(static_cast<int>(i), 0); });
    }
    fills.under = std::move(under);
    fills.latest = std::move(layer);
  }
}

template <class Write>
void PendingFills::forEachKept(const SheetFills& fills, Write&& write) {
  if (!fills.latest) return;
  const Layer& layer = *fills.latest;
  const auto columns = static_cast<std::size_t>(layer.shape.columns);
  const Under& under = fills.under;
  for (std::size_t i = 0; i < under.positions.size(); ++i) {
    const std::size_t position = under.positions[i];
    write(layer.shape.gridRows[position / columns],
          static_cast<int>(position % columns) - kColumnOffset,
          under.values.view(static_cast<int>(i), 0));
  }
  const db::RowSet& rows = *layer.rows;
  for (int r = 0; r < rows.rowCount(); ++r) {
    const int gridRow = layer.shape.gridRows[static_cast<std::size_t>(r)];
    if (gridRow == 0) continue;
    for (int k = kFirstFigureColumn; k < layer.shape.columns; ++k) {
      const db::CellView value = rows.view(r, k);
      if (value.kind != db::ValueKind::Null) write(gridRow, k - kColumnOffset, value);
    }
  }
}

void PendingFills::fold(SheetFills& fills) {
  forEachKept(fills, [&](int row, int col, const db::CellView& value) {
    std::vector<db::Value>& cells = fills.folded[row];
    if (cells.size() < static_cast<std::size_t>(col)) cells.resize(static_cast<std::size_t>(col));
    cells[static_cast<std::size_t>(col - 1)] = db::valueOf(value);
  });
  fills.under = Under{};
  fills.latest.reset();
}

void PendingFills::fill(db::RowSet& S, db::RowSet& D, const SheetControl& left,
                        const SheetControl& right) {
  if (std::optional<Shapes> shapes = shapesOf(S, D, left, right))
    take(std::move(*shapes), std::move(S), std::move(D));
  else
    copyValues(S, D, left, right);
}

void PendingFills::copyValues(db::RowSet& S, db::RowSet& D, const SheetControl& left,
                              const SheetControl& right) {
  // Values kept per cell come after every whole row set kept before them.
  SheetFills& leftFills = sheets_[kLeft][left.Sheet()];
  SheetFills& rightFills = sheets_[kRight][right.Sheet()];
  fold(leftFills);
  fold(rightFills);
  const std::array<Rows*, 2> target{&leftFills.folded, &rightFills.folded};
  forEachFigure(S, D, [&](Side side, int row, int col, const db::CellView& value) {
    // The checks the write would make after the row's: the column, then the text.
    sheet::checkCol(col);
    if (value.kind == db::ValueKind::Text && !text::isValidUtf8(value.bytes)) {
      text::utf8ToUtf16(value.bytes);  // raises FormatError naming the offset of the bad byte
      throw FormatError("Invalid UTF-8 text");
    }
    std::vector<db::Value>& cells = (*target[side])[row];
    if (cells.size() < static_cast<std::size_t>(col)) cells.resize(static_cast<std::size_t>(col));
    cells[static_cast<std::size_t>(col - 1)] = db::valueOf(value);
  });
}

void PendingFills::enterInto(SheetControl& left, SheetControl& right) {
  const Grids grids{&left, &right};
  const std::array<int, 2> current{left.Sheet(), right.Sheet()};
  for (std::size_t side : {kLeft, kRight}) {
    SheetControl& grid = *grids[side];
    for (auto& [sheetIndex, fills] : sheets_[side]) {
      grid.setSheet(sheetIndex);
      for (const auto& [row, cells] : fills.folded) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
          if (db::kindOf(cells[c]) == db::ValueKind::Null) continue;
          grid.EntryRC(row, static_cast<int>(c) + 1, db::displayText(cells[c]));
        }
      }
      forEachKept(fills, [&grid](int row, int col, const db::CellView& value) {
        grid.EntryRC(row, col, db::displayText(value));
      });
    }
  }
  clear();
  left.setSheet(current[kLeft]);
  right.setSheet(current[kRight]);
}

void findSheetDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink) {
  int number = 1;
  const int lastRow = left.LastRow();
  if (lastRow <= 0) return;
  // Two empty texts are equal, so only a cell that holds text in either grid can differ. Visiting
  // just those, in reading order, lists and marks exactly what a visit of every cell of the used
  // range would, at a cost that follows what the sheets hold: one template cell at XFD1048576
  // would otherwise make it 17 billion cells. Marking changes formats only, never a text, so the
  // positions taken before the first mark stay those that hold text.
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
    // Most cells are equal. Where both controls keep their sheets here, the texts are compared
    // as kept, in UTF-8, and only differing cells have their texts made: UTF-8 and UTF-16 spell
    // the same characters, so valid texts are equal in one exactly when they are in the other.
    // Texts that are not valid UTF-8 are left to text(), which fails on them.
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

void findAllDifferences(SheetControl& left, SheetControl& right, DifferenceSink& sink) {
  const int sheets = left.NumSheets();
  for (int sheet = 1; sheet <= sheets; ++sheet) {
    left.setSheet(sheet);
    right.setSheet(sheet);
    findSheetDifferences(left, right, sink);
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
