#pragma once
// The comparison engine: for one pair of units and a period's sample tables, it opens both units'
// rows of every table's figures table and decides whether they are identical. It knows no
// widgets: what a caller adds per table (writing the rows into grids, captions) comes in through
// SheetObserver, and progress through the caller's own loop over pairs.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/dmdupsweep.h"
#include "model/records.h"
#include "platform/db/db.h"

namespace dupsweep {

using SampleList = std::vector<std::unique_ptr<TSampleData>>;

// The equality test of two units' rows of one sheet. Rows are paired by position; only columns
// from index 5 on are compared, by db::sameValue. Identical requires the same, non-zero number of
// rows. When the counts match, both cursors walk every row to their end, and the outcome is that
// of comparing every row and column; values after the first difference are not compared, since
// comparing them can neither fail nor change it.
bool SameRows(db::RowSet& s, db::RowSet& d);

// The number of figure cells in which two units' rows of one sheet differ, by the rule of SameRows
// (rows paired by position, columns from index 5 on compared by db::sameValue, a column D lacks
// counting as differing); counting stops once it exceeds `limit`. Requires the same row count.
int DifferingCells(const db::RowSet& s, const db::RowSet& d, int limit);

// What a caller adds to the comparison of one table of one pair.
class SheetObserver {
 public:
  virtual ~SheetObserver() = default;
  // Before the rows are opened.
  virtual void BeginSheet(const TSampleData& /*sample*/, const TUnitGroup& /*pair*/) {}
  // With both row sets on their first row; must set `sample.bRepeated`. It may take the rows
  // over (moving them out), since nothing reads them afterwards. The default runs SameRows.
  virtual void FillSheet(db::RowSet& s, db::RowSet& d, TSampleData& sample) {
    sample.bRepeated = SameRows(s, d);
  }
  // When the table `table` of the sheet does not exist (or its name cannot be sent); the sheet
  // then counts as not identical. Called before EndSheet.
  virtual void TableMissing(const TSampleData& /*sample*/, const std::string& /*table*/) {}
  // After the comparison, whatever its outcome, before the row sets are released.
  virtual void EndSheet(const TSampleData& /*sample*/) {}
};

class ComparisonEngine {
 public:
  explicit ComparisonEngine(TdmDupsweep& dataModule) : dm_(dataModule) {}

  // Compares one pair over every table of `samples`, in list order: opens the second unit's rows,
  // then the first unit's, and lets `observer` fill and test them. A table that does not exist
  // counts as not identical (the observer hears of it); every other failure of a read, and every
  // error of the observer, ends the pair there. Calls `onIdentical` with each table found
  // identical (its bRepeated set). Throws Error, comparing nothing, for a pair whose two units
  // have the same code (isSelfPair).
  void ComparePair(SampleList& samples, const TUnitGroup& pair, SheetObserver& observer,
                   const std::function<void(const TSampleData&)>& onIdentical);

 private:
  TdmDupsweep& dm_;
};

}  // namespace dupsweep
