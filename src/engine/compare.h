#pragma once
// The comparison of two units' rows of one sheet, and what the viewer's grids can take of them.
// Nothing here knows a widget: the viewer writes rows with the same walk (forEachFigure) that the
// run checks them with, so that both fail alike.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/dmdupsweep.h"
#include "model/pair.h"
#include "model/records.h"
#include "platform/db/db.h"
#include "platform/spreadsheet/workbook.h"

namespace dupsweep {

using SampleList = std::vector<std::unique_ptr<TSampleData>>;

// The equality test of two units' rows of one sheet. Rows are paired by position; only columns
// from index 5 on are compared, by db::sameValue. Identical requires the same, non-zero number of
// rows. When the counts match, both cursors walk every row to their end, and the outcome is that
// of comparing every row and column; values after the first difference are not compared, since
// comparing them can neither fail nor change it.
bool SameRows(db::RowSet& s, db::RowSet& d);

// Whether two units' copies of the sheet whose figures table is `table` are identical now, read
// afresh through `dataModule` for `period`: false when the table or either unit's rows are gone,
// or `otherCode` is empty. A deletion asks it inside its transaction, before removing a copy.
bool StillIdentical(TdmDupsweep& dataModule, const std::string& table, const std::string& unitCode,
                    const std::string& otherCode, const std::string& period);

// The number of figure cells in which two units' rows of one sheet differ, by the rule of SameRows
// (rows paired by position, columns from index 5 on compared by db::sameValue, a column D lacks
// counting as differing); counting stops once it exceeds `limit`. Requires the same row count.
int DifferingCells(const db::RowSet& s, const db::RowSet& d, int limit);

// What is subtracted from a figure column's index to give its grid column (index 5 is column 1).
inline constexpr int kGridColumnOffset = kFirstFigureColumn - 1;

// The grid row of the current row of `rows`: its nRow value, which must be a row of a sheet.
// Raises DatabaseError without an nRow column or for an nRow that is no integer, and
// sheet::RangeError outside the sheet.
int gridRowOf(const db::RowSet& rows);

// Walks the rows of S and D together as writing them into the left and right grid does: for every
// non-NULL figure, write(side, gridRow, gridCol, value), row by row and, within a row, column by
// column, S before D; as many figure columns as S has. The grid row (gridRowOf) is read once a
// value of the row is written, so a row of NULL figures needs no row number. The longer row set
// is walked to its end after the shorter one has ended. Requires both on their first row; leaves
// both at their ends. A column D lacks raises DatabaseError.
template <class Write>
void forEachFigure(db::RowSet& S, db::RowSet& D, Write&& write) {
  const BySide<db::RowSet*> rows{&S, &D};
  const int columns = S.columnCount();  // both come from the same data table
  while (!S.eof() || !D.eof()) {
    BySide<std::optional<int>> gridRow;
    for (int k = kFirstFigureColumn; k < columns; ++k) {
      for (Side side : {Left, Right}) {
        db::RowSet& unit = *rows[side];
        if (unit.eof()) continue;
        const db::CellView value = unit.field(k).view();
        if (value.kind == db::ValueKind::Null) continue;
        if (!gridRow[side]) gridRow[side] = gridRowOf(unit);
        write(side, *gridRow[side], k - kGridColumnOffset, value);
      }
    }
    for (db::RowSet* unit : rows)
      if (!unit->eof()) unit->next();
  }
}

// What the viewer's two grids can take over a template workbook: the sheets it has, and the rows
// and columns of a sheet (sheet::kMaxRows, sheet::kMaxCols). A run that shows nothing checks its
// rows here, so that it fails where writing them into the grids would have failed, with the same
// error.
class GridFit {
 public:
  explicit GridFit(const sheet::Workbook& book) : book_(book) {}
  // Raises what making sheet `sheetOrder` current in the grids raises (sheet::RangeError).
  void checkSheet(std::int32_t sheetOrder) const;
  // Raises what writing S into the left grid and D into the right one raises, at the first value
  // that would fail (see forEachFigure): a missing nRow column or column, an nRow or a column
  // outside the sheet, a text that is not UTF-8. Rows that fit are looked at without their
  // cursors; only rows that may not are walked. Leaves the cursors anywhere.
  static void checkRows(db::RowSet& S, db::RowSet& D);

 private:
  const sheet::Workbook& book_;
};

}  // namespace dupsweep
