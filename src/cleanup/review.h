#pragma once
// A review of what discovery found: the findings of one discovery with the decisions that hold on
// them, marking a finding, and deleting several repeated copies at once as one batch of the
// journal. The window "查找重复数据单位" and dupsweep-review work through it; it sends its
// statements through the data module and keeps decisions in the deletion journal's file.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cleanup/cleanup.h"
#include "engine/discovery.h"
#include "engine/review.h"

namespace dupsweep {

// A finding named by the operator (units, sheet, period against) that discovery does not find now.
class NoSuchFinding : public Error {
 public:
  using Error::Error;
};

class ReviewSession {
 public:
  // Reviews `result`, found for `taskCode` and `level` on `data`'s database, with the decisions
  // kept in the journal at `journalPath` (journal::defaultPath() when none). Throws JournalError
  // when the journal cannot be read, DatabaseError when rows of a decided finding cannot.
  ReviewSession(TdmDupsweep& data, DiscoveryResult result, std::string taskCode, std::int32_t level,
                std::optional<std::filesystem::path> journalPath = {});

  const DiscoveryResult& result() const noexcept { return result_; }
  const std::vector<ReviewedFinding>& findings() const noexcept { return findings_; }
  const std::string& taskCode() const noexcept { return taskCode_; }
  std::int32_t level() const noexcept { return level_; }

  // The finding of the units `a` and `b` (in either order) on the sheet of code `sheetCode`,
  // against `againstPeriod` (empty: the searched period alone); the first of its kinds. Throws
  // NoSuchFinding when discovery did not find it.
  std::size_t find(const std::string& a, const std::string& b, const std::string& sheetCode,
                   const std::string& againstPeriod = {}) const;

  // Marks finding `index` with `note`, on both sides' rows as they are now, by the system user.
  // Throws JournalError (the file is checked before it is written), DatabaseError.
  void mark(std::size_t index, Mark mark, const std::string& note);

  // Whether this session deleted a copy of finding `index`.
  bool gone(std::size_t index) const { return gone_.at(index); }
  // Whether finding `index` can be deleted by a batch: an identical sheet of the searched period
  // whose copy this session has not deleted yet.
  bool deletable(std::size_t index) const;

  // Deletes the copies of `copies` (deletable findings and the side whose copy goes) as one batch
  // with the dialog's operation, each unit's Status row with the last identical sheet of its
  // pair still there (statusGoesWith; sheets deleted by earlier batches of this session are
  // gone). Throws Error for a finding that is not deletable, before anything.
  Cleanup::BatchOutcome deleteCopies(const std::vector<std::pair<std::size_t, Side>>& copies);

  // The rows a deletion of `side`'s copy of finding `index` removes from the sheet's figures
  // table, read now, for the confirmation. Throws DatabaseError.
  int rowsOf(std::size_t index, Side side) const;

 private:
  TdmDupsweep& data_;
  DiscoveryResult result_;
  std::string taskCode_;
  std::int32_t level_;
  std::optional<std::filesystem::path> journalPath_;
  std::string database_;  // the database's identity, as decisions are keyed
  std::vector<ReviewedFinding> findings_;
  std::vector<bool> gone_;  // per finding: a copy of it was deleted here
};

}  // namespace dupsweep
