#pragma once
// The deletion journal: a local SQLite file of the component's own that keeps, for every deletion
// of a repeated copy, the rows it removed, so that they can be put back. Each entry records when,
// the database (its connection string without secrets), the period, task and level, the unit that
// lost its copy and the pair it was compared in, the sheet, and every removed row of every table
// with every column and the kind of each value.
//
// The file is written with full synchronisation: an entry that add() returns is on the disk. A
// file that is damaged or belongs to another program is never written to: opening it fails, and
// it stays as it is. Every failure is a JournalError carrying its reason and the file.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/decision.h"
#include "platform/db/db.h"

namespace dupsweep::journal {

// Where an entry stands in the order "entry written, host deletion committed, entry marked".
//   Pending: written; the host's deletion has not been confirmed (it may have committed when
//            the program ended in between).
//   Done: the host's deletion committed.  RolledBack: it was rolled back; nothing was deleted.
//   Restored: its rows were put back.
enum class State { Pending, Done, RolledBack, Restored };

// The state as the file keeps it in sState ("pending", "done", "rolledback", "restored").
std::string stateToken(State state);

// One table's removed rows.
struct SavedTable {
  std::string name;                          // as named in the host's database
  std::vector<std::string> columns;          // its columns, in their order
  std::vector<std::vector<db::Value>> rows;  // every removed row, each value of its own kind
  std::int64_t savedRows = 0;                // rows saved; equals rows.size() when they are read
  std::int64_t deletedRows = -1;             // rows the deletion reported; -1 until it committed
};

struct Entry {
  std::int64_t id = 0;
  std::string when;      // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string database;  // withoutSecrets() of the connection string
  std::string periodId;
  std::string taskCode;
  std::int32_t level = 0;
  std::string unitCode;  // the unit that lost its copy
  std::string unitName;
  std::string pairName;  // the pair as the dialog lists it, and its other unit, whose copy stayed
  std::string otherUnitCode;
  std::string otherUnitName;
  std::string sampleCode;
  std::string sampleName;
  std::vector<SavedTable> tables;  // the DataNum, the DataBalance and, when deleted, the Status rows
  State state = State::Pending;
  std::string restoredWhen;  // UTC, set once restored
  std::int64_t batch = 0;    // the batch of deletions made by one action; 0 for a single one

  // Rows saved over all tables.
  std::int64_t savedRows() const noexcept;
};

// The journal's file: $DUPSWEEP_JOURNAL when set and not empty, else
// $XDG_DATA_HOME/dupsweep/journal.db, with ~/.local/share for XDG_DATA_HOME when that is unset,
// empty or not absolute. Throws JournalError when neither it nor HOME gives a place.
std::filesystem::path defaultPath();

// `connectionString` without its secrets: the value of every password key is replaced by "***"
// (also inside Extended Properties), so the journal names the database without a password.
std::string withoutSecrets(std::string_view connectionString);

// The current time as entries record it, UTC "YYYY-MM-DDTHH:MM:SSZ".
std::string nowUtc();

// The system user the program runs as, as decisions and batches record who made them.
std::string currentUser();

class Journal {
 public:
  enum class Mode {
    ReadOnly,  // never creates the file, changes it (but to roll back a write left unfinished)
               // or locks it out; a missing file reads as empty
    ReadWrite  // creates the file (0600) and its directory (0700) when missing
  };

  // Opens the journal at `path` and checks it: a file that is damaged, is not a journal of this
  // component or of this layout, or was written by a newer one is refused (and left as it is).
  // Waits a moment for a journal locked by another program. A write left unfinished (the program
  // was killed, the disk was full) is rolled back first, also for reading; a file that cannot
  // be written then is refused with that cause. ReadWrite makes the journal readable and
  // writable by its owner only (its directory, when made here, too) and refuses a journal or
  // directory that the group or other users may write to. Throws JournalError.
  Journal(std::filesystem::path path, Mode mode);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }

  // Writes `entry` with its rows as one transaction, in state Pending, and returns its id; the
  // entry is on the disk when this returns. Requires ReadWrite. Throws JournalError; nothing of
  // the entry is written then.
  std::int64_t add(const Entry& entry);

  // Marks entry `id` done, with the deleted-row counts of its tables in their order.
  void markDone(std::int64_t id, const std::vector<std::int64_t>& deletedRows);
  // Marks entry `id` rolled back: the deletion did not happen.
  void markRolledBack(std::int64_t id);
  // Marks entry `id` restored, now.
  void markRestored(std::int64_t id);

  // The entries, oldest first, with their tables' names, columns and counts but without rows;
  // only those of the database `database` reaches when given, whatever connection string each
  // entry names it by (db::databaseIdentity). Throws JournalError.
  std::vector<Entry> list(const std::optional<std::string>& database = std::nullopt);

  // Entry `id` with every saved row. Throws JournalError when there is none, or when a saved
  // value is not of the kind recorded for it.
  Entry get(std::int64_t id);

  // Removes the entries made before `date` ("YYYY-MM-DD", UTC) and returns how many. Throws
  // JournalError for a date of another form.
  int prune(const std::string& date);

  // Starts a batch: the deletions of one action, restored together. Returns its id, which
  // entries written with it carry. Requires ReadWrite.
  std::int64_t newBatch();
  // The entries of batch `batch`, oldest first, without rows.
  std::vector<Entry> batchEntries(std::int64_t batch);

  // Keeps `decision` (its who and when filled in when empty), replacing the one on the same
  // finding. Requires ReadWrite. The file was checked when it was opened, as for entries.
  void decide(Decision decision);
  // The decisions on findings of the database whose identity (db::databaseIdentity) is
  // `databaseIdentity`; all of them when empty.
  std::vector<Decision> decisions(const std::string& databaseIdentity = {});

 private:
  // The entries (without rows) of `database` when given, of id `id` when given.
  std::vector<Entry> entries(const std::optional<std::string>& database,
                             std::optional<std::int64_t> id);
  // Opens db_ in mode_ (never creating the file).
  void open();
  // Before a ReadWrite open: makes the directory (0700) and the file (0600) when missing,
  // refuses a place others may write to, and makes an existing file of ours private. Returns
  // whether the file was made here.
  bool prepareToWrite(bool exists);
  // Throws JournalError when the group or other users may write to the journal or its directory.
  void requireWritableByOwnerOnly() const;
  // Rolls back a write left unfinished, through a connection that may write; `readOnlyRc` is
  // what the read-only connection met. Throws JournalError naming the cause when it cannot.
  void finishInterruptedWrite(int readOnlyRc);
  void check();
  // Throws JournalError when a table or column of this layout is missing from the file.
  void requireLayout();
  void create();
  // The tables the file holds now.
  void readTables();
  bool has(std::string_view table) const;
  // Adds the tables of batches and decisions to a journal made before them (ReadWrite).
  void addReviewTables();
  void setState(std::int64_t id, State state, const std::string& restoredWhen);
  // The failure SQLite's code `rc` stands for, met while `action`, with SQLite's `reason`.
  JournalError failure(int rc, JournalError::Action action, std::string reason) const;
  // The database layer's statements, their failures told as the journal's.
  std::unique_ptr<db::RowSet> read(std::string_view sql,
                                   JournalError::Action action = JournalError::Action::Read);
  std::int64_t write(std::string_view sql, const std::vector<db::Value>& params);
  void exec(std::string_view sql, JournalError::Action action);
  // Ends the open transaction, keeping nothing of it.
  void rollback() noexcept;

  std::filesystem::path path_;
  Mode mode_;
  std::unique_ptr<db::Connection> db_;  // null for a ReadOnly journal whose file does not exist
  std::vector<std::string> tables_;     // the file's tables
};

}  // namespace dupsweep::journal
