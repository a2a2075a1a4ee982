#pragma once
// Cleanup: the deletion of a repeated copy with its journal, and the restore of a journaled
// deletion, over a data module's connection. Every statement it sends is the data module's; the
// journal keeps what a deletion removed so that it can be put back.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/dmdupsweep.h"
#include "journal/journal.h"
#include "model/records.h"
#include "platform/db/db.h"

namespace dupsweep {

// A deletion that found the two units' rows of the sheet no longer identical (changed, or gone,
// since the comparison): nothing was deleted and no journal entry was written.
class CopyChanged : public Error {
 public:
  struct Facts {
    std::string unitCode;
    std::string otherUnitCode;
    std::string sampleName;
    std::string table;
    std::string periodId;
  };
  explicit CopyChanged(Facts facts)
      : Error("The rows of units " + facts.unitCode + " and " + facts.otherUnitCode + " in " +
              facts.table + " (period " + facts.periodId +
              ") are no longer identical; nothing was deleted"),
        facts_(std::move(facts)) {}
  const Facts& facts() const noexcept { return facts_; }

 private:
  Facts facts_;
};

// A restore of a pending entry whose rows are all still in the database exactly as saved: its
// deletion never took effect. The entry has been marked rolled back; nothing was changed.
class DeletionNeverTookEffect : public RestoreRefused {
 public:
  explicit DeletionNeverTookEffect(Facts facts)
      : RestoreRefused(Reason::NeverTookEffect, std::move(facts)) {}
};

// A batch restore of a batch of which the journal holds no entry to restore: none was made, or
// every deletion of it was rolled back.
class BatchNotFound : public Error {
 public:
  explicit BatchNotFound(std::int64_t batch)
      : Error("the deletion journal has no batch " + std::to_string(batch) + " to restore"),
        batch_(batch) {}
  std::int64_t batch() const noexcept { return batch_; }

 private:
  std::int64_t batch_;
};

class Cleanup {
 public:
  // Works on `data`'s connection, which must outlive it, with the journal at `journalPath`, or
  // at journal::defaultPath() (read at each use) when none is given.
  explicit Cleanup(TdmDupsweep& data, std::optional<std::filesystem::path> journalPath = {});

  // The deletion journal's file.
  std::filesystem::path JournalPath() const;

  // What the journal records of a deletion besides what the deletion itself is given: the
  // unit's name, and the pair the sheet was found identical in, with its other unit.
  struct DeletionNotes {
    std::string unitName;
    std::string pairName;
    std::string otherUnitCode;
    std::string otherUnitName;
  };

  // Deletes one unit's copy of a repeated sheet as one operation: its rows of the sheet's DataNum
  // and DataBalance tables for the sheet's period, and, when `withStatus`, its Status row of that
  // period, task and level, in that order and in one transaction. Returns the sum of the
  // affected-row counts.
  //
  // The copy is deleted only while it is still repeated data: inside the transaction, before the
  // journal entry is written, both the unit's and `notes.otherUnitCode`'s rows of the DataNum
  // table are read again and must still be identical (StillIdentical). When they do not (a figure changed since
  // the comparison, either unit's rows or the table are gone), the transaction is rolled back
  // with nothing deleted and no entry written, and CopyChanged is thrown.
  //
  // Nothing is deleted without its journal entry: inside the transaction the rows the statements
  // will remove are read first and written to the journal, durably, before the first deletion
  // statement runs; the entry is marked done once the transaction has committed, and rolled back
  // when it did not. A journal that cannot be written throws JournalError (its aftermath
  // NothingDeleted) and sends no deletion.
  // A negative sum (a statement reported a negative count) rolls everything back and is
  // returned; a statement the database refuses, or a count that differs from the rows read for
  // that table (rows changed in between), rolls everything back and throws DatabaseError.
  // Nothing of a failed deletion stays done; a database locked by another writer (another
  // deletion, as a rule) gives its DatabaseError of kind Locked.
  std::int64_t DeleteRepeatedCopy(const TSampleData& sample, const std::string& unitCode,
                                  bool withStatus, const std::string& taskCode, std::int32_t level,
                                  const DeletionNotes& notes);

  // One copy of a batch: what DeleteRepeatedCopy is given.
  struct BatchCopy {
    TSampleData sample;
    std::string unitCode;
    bool withStatus = false;
    std::string taskCode;
    std::int32_t level = 0;
    DeletionNotes notes;
  };
  // How a batch ended: the rows deleted by each copy done, in order (copies[0..rows.size())),
  // and, when it stopped before the end, the failure that stopped it at copies[rows.size()].
  struct BatchOutcome {
    std::int64_t batch = 0;  // the journal's id of the batch; 0 when nothing was tried
    std::vector<std::int64_t> rows;
    std::exception_ptr stopped;
  };
  // Deletes each copy of `copies` in turn with DeleteRepeatedCopy, all of them entries of one
  // batch of the journal. The first copy refused (changed rows: CopyChanged; a lost link, a lock,
  // a journal that cannot be written) stops the batch: the copies done stay deleted and
  // journaled, the refused one and those after it are not deleted. A failure other than the
  // component's own propagates.
  BatchOutcome DeleteBatch(const std::vector<BatchCopy>& copies);

  // The journal's entries of the data module's database (the connection string without
  // secrets), oldest first, without their rows; none when there is no journal yet. Throws
  // JournalError.
  std::vector<journal::Entry> DeletionEntries();

  // Puts the rows of journal entry `id` back into the data module's database in one
  // transaction, each value bound as a parameter of its saved kind, marks the entry restored and
  // returns the rows put back. Refuses with RestoreRefused, changing nothing, when the entry was
  // restored before or was rolled back, when the unit already has rows of the entry's period in
  // one of its tables (for Status: of its period, task and level), or when a table's columns are
  // no longer the saved ones (or the table is gone). A pending entry whose saved rows are all
  // still in its tables, value for value and nothing else with them, never took effect (the
  // deletion was rolled back when the program ended): it is marked rolled back and
  // DeletionNeverTookEffect is thrown. A statement the database refuses rolls everything back
  // and throws DatabaseError; a journal that cannot be read throws JournalError (NoJournal when
  // there is none), and one that cannot note the outcome JournalError with that aftermath.
  std::int64_t RestoreDeletion(std::int64_t id);

  // Puts back every entry of batch `batch` in one transaction, as RestoreDeletion does one, and
  // returns the rows put back; entries whose deletion was rolled back are passed over. When any
  // entry cannot be restored, nothing is: RestoreRefused names that entry (its id) and why.
  // A batch without such entries throws BatchNotFound.
  std::int64_t RestoreBatch(std::int64_t batch);

 private:
  // Deletes as DeleteRepeatedCopy does, the entry in batch `batch` (0: none).
  std::int64_t deleteCopy(const TSampleData& sample, const std::string& unitCode, bool withStatus,
                          const std::string& taskCode, std::int32_t level,
                          const DeletionNotes& notes, std::int64_t batch);
  // Puts back the rows of `ids` (entries of the journal at `path`, opened as `log`) in one
  // transaction; refuses as RestoreDeletion does, the refusal naming its entry.
  std::int64_t restoreEntries(journal::Journal& log, const std::vector<std::int64_t>& ids);

  // The rows of `table` a deletion of the entry's unit removes, as the deletion reads them.
  journal::SavedTable readKept(const TdmDupsweep::KeptRoute& route, const std::string& table,
                               const std::string& unitCode, const std::string& periodId,
                               const std::string& taskCode, std::int32_t level);

  TdmDupsweep& data_;
  std::optional<std::filesystem::path> journalPath_;
};

}  // namespace dupsweep
