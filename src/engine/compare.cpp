#include "engine/compare.h"

#include <algorithm>

#include "model/pairs.h"
#include "platform/errors.h"

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
  // Comparing values neither changes nor fails, so once a difference is found the rest of the
  // rows cannot change the outcome: the cursors still walk on to their ends, the values are no
  // longer compared.
  for (; !s.eof(); s.next(), d.next())
    if (same && !s.sameValues(s.row(), d, d.row(), kFirstFigureColumn, shared)) same = false;
  return same;
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

void ComparisonEngine::ComparePair(SampleList& samples, const TUnitGroup& pair,
                                   SheetObserver& observer,
                                   const std::function<void(const TSampleData&)>& onIdentical) {
  if (isSelfPair(pair))
    throw Error("The pair " + pair.GroupName + " pairs the unit " + pair.UnitS->sUnitCode +
                " with itself and is never compared");
  for (auto& sample : samples) {
    TSampleData& t = *sample;
    observer.BeginSheet(t, pair);
    const std::string table = NumTableName(t);
    std::unique_ptr<db::RowSet> rowsD = dm_.OpenUnitData(table, pair.UnitD->sUnitCode, t.sPeriodID);
    std::unique_ptr<db::RowSet> rowsS = dm_.OpenUnitData(table, pair.UnitS->sUnitCode, t.sPeriodID);
    if (rowsS && rowsD) {
      observer.FillSheet(*rowsS, *rowsD, t);
    } else {
      t.bRepeated = false;  // a table that is not there holds no repeated data
      observer.TableMissing(t, table);
    }
    observer.EndSheet(t);
    if (t.bRepeated && onIdentical) onIdentical(t);
  }
}

}  // namespace dupsweep
