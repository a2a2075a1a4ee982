#include "cleanup/cleanup.h"

#include <exception>
#include <memory>
#include <utility>

#include "data/statements.h"
#include "engine/compare.h"

namespace dupsweep {
namespace {

bool sameColumns(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return false;
    for (std::size_t k = 0; k < a[i].size(); ++k) {
      const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
      if (lower(a[i][k]) != lower(b[i][k])) return false;
    }
  }
  return true;
}

constexpr const char* kStatusTable = "Status";

// Whether `now` (the rows read as a deletion reads them) are exactly the saved rows of `saved`:
// the same columns, and each saved row once, value for value and of the same kind, in any order,
// with no other row.
bool holdsSavedRows(const TdmDupsweep::KeptRows& now, const journal::SavedTable& saved) {
  if (now.rows.size() != saved.rows.size() ||
      saved.rows.size() != static_cast<std::size_t>(saved.savedRows) ||
      !sameColumns(now.columns, saved.columns))
    return false;
  std::vector<bool> matched(saved.rows.size(), false);
  for (const std::vector<db::Value>& row : now.rows) {
    bool found = false;
    for (std::size_t k = 0; k < saved.rows.size() && !found; ++k)
      if (!matched[k] && saved.rows[k] == row) matched[k] = found = true;
    if (!found) return false;
  }
  return true;
}

// The rows of `table` a deletion of the unit removes, read by `route`: the Status rows of the
// period, task and level for the Status table, the unit's rows of the period for a data table.
TdmDupsweep::KeptRows readKeptRows(TdmDupsweep& data, const TdmDupsweep::KeptRoute& route,
                                   const std::string& table, const std::string& unitCode,
                                   const std::string& periodId, const std::string& taskCode,
                                   std::int32_t level) {
  return table == kStatusTable ? data.ReadKeptStatusRows(route, periodId, unitCode, taskCode, level)
                               : data.ReadKeptTableRows(route, table, unitCode, periodId);
}

}  // namespace

Cleanup::Cleanup(TdmDupsweep& data, std::optional<std::filesystem::path> journalPath)
    : data_(data), journalPath_(std::move(journalPath)) {}

std::filesystem::path Cleanup::JournalPath() const {
  return journalPath_ ? *journalPath_ : journal::defaultPath();
}

journal::SavedTable Cleanup::readKept(const TdmDupsweep::KeptRoute& route, const std::string& table,
                                      const std::string& unitCode, const std::string& periodId,
                                      const std::string& taskCode, std::int32_t level) {
  TdmDupsweep::KeptRows rows =
      readKeptRows(data_, route, table, unitCode, periodId, taskCode, level);
  journal::SavedTable saved;
  saved.name = table;
  saved.columns = std::move(rows.columns);
  saved.rows = std::move(rows.rows);
  saved.savedRows = static_cast<std::int64_t>(saved.rows.size());
  return saved;
}

std::int64_t Cleanup::DeleteRepeatedCopy(const TSampleData& sample, const std::string& unitCode,
                                         bool withStatus, const std::string& taskCode,
                                         std::int32_t level, const DeletionNotes& notes) {
  return deleteCopy(sample, unitCode, withStatus, taskCode, level, notes, 0);
}

Cleanup::BatchOutcome Cleanup::DeleteBatch(const std::vector<BatchCopy>& copies) {
  BatchOutcome outcome;
  if (copies.empty()) return outcome;
  try {
    journal::Journal log(JournalPath(), journal::Journal::Mode::ReadWrite);
    outcome.batch = log.newBatch();
  } catch (const JournalError& e) {
    outcome.stopped = std::make_exception_ptr(e.after(JournalError::Aftermath::NothingDeleted));
    return outcome;
  }
  for (const BatchCopy& c : copies) {
    try {
      const std::int64_t rows = deleteCopy(c.sample, c.unitCode, c.withStatus, c.taskCode,
                                           c.level, c.notes, outcome.batch);
      if (rows < 0)
        throw DatabaseError("A deletion statement reported a negative row count; nothing of " +
                            c.unitCode + " was deleted");
      outcome.rows.push_back(rows);
    } catch (const Error&) {
      outcome.stopped = std::current_exception();
      break;
    }
  }
  return outcome;
}

std::int64_t Cleanup::deleteCopy(const TSampleData& sample, const std::string& unitCode,
                                 bool withStatus, const std::string& taskCode, std::int32_t level,
                                 const DeletionNotes& notes, std::int64_t batch) {
  // A failure of the rollback itself is passed over: the failure being reported is the one that
  // stopped the deletion (a lost link has rolled it back already).
  const auto rollback = [this]() noexcept {
    try {
      data_.Rollback();
    } catch (const DatabaseError&) {
    }
  };
  const std::string& period = sample.sPeriodID;
  const std::string num = NumTableName(sample);
  const std::string balance = BalanceTableName(sample);
  for (const std::string* name : {&num, &balance})
    if (!sql::isSafeTableName(*name)) throw DatabaseError("Invalid table name: " + *name);

  // The journal is opened before anything is sent: one that cannot be written stops the deletion
  // before it starts.
  std::optional<journal::Journal> log;
  try {
    log.emplace(JournalPath(), journal::Journal::Mode::ReadWrite);
  } catch (const JournalError& e) {
    throw e.after(JournalError::Aftermath::NothingDeleted);
  }
  journal::Entry entry;
  entry.database = journal::withoutSecrets(data_.ConnectionString());
  entry.periodId = period;
  entry.taskCode = taskCode;
  entry.level = level;
  entry.unitCode = unitCode;
  entry.unitName = notes.unitName;
  entry.pairName = notes.pairName;
  entry.otherUnitCode = notes.otherUnitCode;
  entry.otherUnitName = notes.otherUnitName;
  entry.sampleCode = sample.sSampleCode;
  entry.sampleName = sample.sSampleName;
  entry.batch = batch;

  std::optional<std::int64_t> id;  // set once the entry is on the disk
  bool committing = false;
  std::int64_t total = 0;
  std::vector<std::int64_t> counts;
  data_.StartTransaction();
  try {
    const TdmDupsweep::KeptRoute route = data_.KeptRouteOf();
    entry.tables.push_back(readKept(route, num, unitCode, period, taskCode, level));
    entry.tables.push_back(readKept(route, balance, unitCode, period, taskCode, level));
    if (withStatus)
      entry.tables.push_back(readKept(route, kStatusTable, unitCode, period, taskCode, level));
    // The comparison that found the copy repeated may be old: a resubmission can have changed
    // either unit's figures since. Read under the same transaction as the deletion, both copies
    // must still be identical.
    if (!StillIdentical(data_, num, unitCode, notes.otherUnitCode, period))
      throw CopyChanged({unitCode, notes.otherUnitCode, sample.sSampleName, num, period});
    try {
      id = log->add(entry);
    } catch (const JournalError& e) {
      throw e.after(JournalError::Aftermath::NothingDeleted);
    }
    counts.push_back(data_.DeleteTableData(num, unitCode, period));
    counts.push_back(data_.DeleteTableData(balance, unitCode, period));
    if (withStatus) counts.push_back(data_.DeleteStatus(period, unitCode, taskCode, level));
    for (std::size_t t = 0; t < counts.size(); ++t) {
      // Rows that came or went between the read and the deletion would be deleted without their
      // entry, or the entry would hold rows that were never deleted.
      if (counts[t] >= 0 && counts[t] != entry.tables[t].savedRows)
        throw DatabaseError("The rows of " + entry.tables[t].name + " changed during the " +
                            "deletion (" + std::to_string(entry.tables[t].savedRows) + " read, " +
                            std::to_string(counts[t]) + " deleted); nothing was deleted");
      total += counts[t];
    }
    if (total >= 0) {
      committing = true;
      data_.Commit();  // a commit that fails leaves the transaction to the rollback
    }
  } catch (const DatabaseError& e) {
    rollback();
    // A link lost while committing leaves the outcome unknown: the entry stays pending, which a
    // restore treats like a done one (its check for rows already there guards either way).
    const bool unknown = committing && e.kind() == DatabaseError::Kind::LinkLost;
    if (id && !unknown) {
      try {
        log->markRolledBack(*id);
      } catch (const JournalError&) {
        // The entry stays pending; the failure reported is the deletion's.
      }
    }
    throw;
  } catch (...) {
    rollback();
    throw;
  }
  if (total < 0) {
    rollback();
    try {
      log->markRolledBack(*id);
    } catch (const JournalError&) {
      // The entry stays pending; the failed deletion is what the caller reports.
    }
    return total;
  }
  try {
    log->markDone(*id, counts);
  } catch (const JournalError&) {
    // The deletion has committed and its rows are in the entry; it stays pending, which restores
    // like a done one.
  }
  return total;
}

std::vector<journal::Entry> Cleanup::DeletionEntries() {
  journal::Journal log(JournalPath(), journal::Journal::Mode::ReadOnly);
  return log.list(journal::withoutSecrets(data_.ConnectionString()));
}

std::int64_t Cleanup::RestoreDeletion(std::int64_t id) {
  const std::filesystem::path path = JournalPath();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    throw JournalError(JournalError::Reason::NoJournal, {.file = path.string()});
  journal::Journal log(path, journal::Journal::Mode::ReadWrite);
  return restoreEntries(log, {id});
}

std::int64_t Cleanup::RestoreBatch(std::int64_t batch) {
  const std::filesystem::path path = JournalPath();
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    throw JournalError(JournalError::Reason::NoJournal, {.file = path.string()});
  journal::Journal log(path, journal::Journal::Mode::ReadWrite);
  std::vector<std::int64_t> ids;
  for (const journal::Entry& e : log.batchEntries(batch))
    if (e.state != journal::State::RolledBack) ids.push_back(e.id);  // nothing was deleted
  if (ids.empty()) throw BatchNotFound(batch);
  return restoreEntries(log, ids);
}

std::int64_t Cleanup::restoreEntries(journal::Journal& log, const std::vector<std::int64_t>& ids) {
  std::vector<journal::Entry> entries;
  for (std::int64_t id : ids) entries.push_back(log.get(id));
  using Refusal = RestoreRefused::Reason;
  for (const journal::Entry& entry : entries) {
    const std::int64_t id = entry.id;
    if (entry.state == journal::State::Restored)
      throw RestoreRefused(Refusal::AlreadyRestored, {.id = id, .when = entry.restoredWhen});
    if (entry.state == journal::State::RolledBack)
      throw RestoreRefused(Refusal::RolledBack, {.id = id});
    for (const journal::SavedTable& t : entry.tables)
      if (t.name != kStatusTable && !sql::isSafeTableName(t.name))
        throw RestoreRefused(Refusal::BadTableName, {.id = id, .table = t.name});
  }

  const auto rollback = [this]() noexcept {
    try {
      data_.Rollback();
    } catch (const DatabaseError&) {
    }
  };
  std::int64_t restored = 0;
  data_.StartTransaction();
  try {
    // Every table of every entry is read and checked before any row goes back, so that a
    // refusal changes nothing.
    std::vector<std::vector<std::unique_ptr<db::RowSet>>> currents;  // null: a table that is gone
    for (const journal::Entry& entry : entries) {
      const std::int64_t id = entry.id;
      const auto openKept = [&](const journal::SavedTable& t) {
        return t.name == kStatusTable
                   ? data_.OpenKeptStatusRows(entry.periodId, entry.unitCode, entry.taskCode,
                                              entry.level)
                   : data_.OpenKeptTableRows(t.name, entry.unitCode, entry.periodId);
      };
      std::vector<std::unique_ptr<db::RowSet>>& current = currents.emplace_back();
      for (const journal::SavedTable& t : entry.tables) {
        std::unique_ptr<db::RowSet>& now = current.emplace_back();
        try {
          now = openKept(t);
        } catch (const DatabaseError& e) {
          if (e.kind() != DatabaseError::Kind::MissingTable) throw;
          if (t.savedRows == 0) continue;  // nothing to put into a table that is gone
          throw RestoreRefused(Refusal::TableGone, {.id = id, .table = t.name});
        }
      }
      // A pending entry may be one whose deletion was rolled back when the program ended before
      // it could say so: then every saved row is still there as it was, and nothing else.
      // The rows are read again as the deletion read them, so that their values are of the kinds
      // the journal keeps whatever the route.
      if (entry.state == journal::State::Pending && entry.savedRows() > 0) {
        const TdmDupsweep::KeptRoute route = data_.KeptRouteOf();
        bool allThere = true;
        for (std::size_t i = 0; i < entry.tables.size() && allThere; ++i) {
          const journal::SavedTable& t = entry.tables[i];
          if (!current[i])
            allThere = t.savedRows == 0;
          else if (current[i]->rowCount() != t.savedRows)
            allThere = false;
          else if (t.savedRows > 0)
            allThere = holdsSavedRows(readKeptRows(data_, route, t.name, entry.unitCode,
                                                   entry.periodId, entry.taskCode, entry.level),
                                      t);
        }
        if (allThere) throw DeletionNeverTookEffect({.id = id, .rows = entry.savedRows()});
      }
      for (std::size_t i = 0; i < entry.tables.size(); ++i) {
        const journal::SavedTable& t = entry.tables[i];
        const std::unique_ptr<db::RowSet>& now = current[i];
        if (!now) continue;
        if (now->rowCount() > 0)
          throw RestoreRefused(Refusal::RowsPresent, {.id = id,
                                                      .table = t.name,
                                                      .unitName = entry.unitName,
                                                      .unitCode = entry.unitCode,
                                                      .periodId = entry.periodId,
                                                      .rows = now->rowCount()});
        std::vector<std::string> columns;
        for (int c = 0; c < now->columnCount(); ++c) columns.push_back(now->columnName(c));
        if (t.savedRows > 0 && !sameColumns(columns, t.columns))
          throw RestoreRefused(Refusal::ColumnsChanged, {.id = id,
                                                         .table = t.name,
                                                         .savedColumns = t.columns,
                                                         .columns = columns});
      }
    }
    for (const journal::Entry& entry : entries)
      for (const journal::SavedTable& t : entry.tables) {
        for (const std::vector<db::Value>& row : t.rows) {
          const std::int64_t n = data_.InsertRow(t.name, t.columns, row);
          if (n != 1)
            throw DatabaseError("Putting a row back into " + t.name + " affected " +
                                std::to_string(n) + " rows; nothing was restored");
          ++restored;
        }
      }
    data_.Commit();
  } catch (const DeletionNeverTookEffect& e) {
    rollback();  // nothing was written: the reads end
    try {
      log.markRolledBack(e.facts().id);
    } catch (const JournalError& j) {
      throw j.after(JournalError::Aftermath::NeverTookEffectNotNoted, e.facts().id);
    }
    throw;
  } catch (...) {
    rollback();
    throw;
  }
  for (const journal::Entry& entry : entries) {
    try {
      log.markRestored(entry.id);
    } catch (const JournalError& e) {
      throw e.after(JournalError::Aftermath::RestoredNotNoted);
    }
  }
  return restored;
}

}  // namespace dupsweep
