#pragma once
// The comparison of two units' rows of one sheet and what the grids can take of them; the viewer
// writes with the same walk (forEachFigure) the run checks with, so both fail alike.

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

// Rows paired by position, figures compared by db::sameValue; identical requires the same,
// non-zero row count. Both cursors walk to their ends; after a difference nothing is compared.
bool SameRows(db::RowSet& s, db::RowSet& d);

// SameRows' verdict on D's rows, read whole first, and S's, compared as they stream past and never
// kept; with `checkGrids` the rows are checked as GridFit::checkRows checks them (S's read again
// only when a walk must decide). nullopt when the table is missing or its name is not safe.
std::optional<bool> SameRowsStreamed(TdmDupsweep& dataModule, const std::string& table,
                                     const std::string& unitS, const std::string& unitD,
                                     const std::string& period, bool checkGrids);

// Read afresh for `period`: false when the table or either unit's rows are gone, or `otherCode`
// is empty. A deletion asks it inside its transaction, before removing a copy.
bool StillIdentical(TdmDupsweep& dataModule, const std::string& table, const std::string& unitCode,
                    const std::string& otherCode, const std::string& period);

// By SameRows' rule (a column D lacks counts as differing), stopping once over `limit`. Requires
// the same row count.
int DifferingCells(const db::RowSet& s, const db::RowSet& d, int limit);

// Index 5 is grid column 1.
inline constexpr int kGridColumnOffset = kFirstFigureColumn - 1;

// Its nRow. Raises DatabaseError without an nRow column or for a non-integer, and
// sheet::RangeError outside the sheet.
int gridRowOf(const db::RowSet& rows);

// write(side, gridRow, gridCol, value) for every non-NULL figure, row by row, S before D, over S's
// columns; gridRowOf is read only once a value of the row is written. Requires both on their
// first row; leaves both at their ends. A column D lacks raises DatabaseError.
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

// The sheets of the template and sheet::kMaxRows x kMaxCols: a run that shows nothing checks here,
// failing where writing into the grids would have, with the same error.
class GridFit {
 public:
  explicit GridFit(const sheet::Workbook& book) : book_(book) {}
  // Raises sheet::RangeError as making the sheet current in the grids does.
  void checkSheet(std::int32_t sheetOrder) const;
  // Raises at the first value writing into the grids would fail on (see forEachFigure). Rows that
  // surely fit are not walked. Leaves the cursors anywhere.
  static void checkRows(db::RowSet& S, db::RowSet& D);

 private:
  const sheet::Workbook& book_;
};

}  // namespace dupsweep
